#include "run_log.h"

#include <windows.h>

#include "messages.h"
#include "text_format.h"

static HANDLE logFile = INVALID_HANDLE_VALUE;

enum : uint32_t {
    LINE_UNITS = LOADED_TEXT_UNITS + 600, // the longest text logged (a loaded text, or a path and a prefix)
    LINE_BYTES = LINE_UNITS * 3 + 4,      // UTF-8 takes at most three bytes per UTF-16 unit
};

bool openRunLog(const wchar_t* path)
{
    logFile = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return logFile != INVALID_HANDLE_VALUE;
}

bool runLogOpen()
{
    return logFile != INVALID_HANDLE_VALUE;
}

static void writeLine(const wchar_t* line)
{
    static char bytes[LINE_BYTES];
    int n = WideCharToMultiByte(CP_UTF8, 0, line, (int)textLength(line), bytes, LINE_BYTES - 2, nullptr, nullptr);
    if (n < 0 || (n == 0 && line[0]))
        return;
    bytes[n++] = '\r';
    bytes[n++] = '\n';
    DWORD written;
    WriteFile(logFile, bytes, (DWORD)n, &written, nullptr);
}

void logEvent(const wchar_t* kind, const wchar_t* text)
{
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    static wchar_t line[LINE_UNITS];
    uint32_t n = 0;
    for (; *kind && n < LINE_UNITS - 2; kind++)
        line[n++] = *kind;
    line[n++] = L' ';
    for (; *text && n < LINE_UNITS - 1; text++)
        line[n++] = (*text == L'\r' || *text == L'\n') ? L' ' : *text;
    line[n] = 0;
    writeLine(line);
}

void logMessage(int id, const wchar_t* text)
{
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    wchar_t kind[24];
    formatText(kind, 24, L"message %d", id);
    logEvent(kind, text);
}

void logNumber(const wchar_t* kind, long n)
{
    wchar_t number[16];
    formatText(number, 16, L"%ld", n);
    logEvent(kind, number);
}
