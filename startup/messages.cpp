// Texts, message boxes, stops and the internal-error report.
//
// A text in the string table that begins with '!' continues in the next id; the joined text may hold at
// most 1,400 units. Five result buffers are used in turn so that a caption, a format and its arguments
// can be loaded together.
#include "messages.h"

#include "../archive/path_rules.h"
#include "report.h"
#include "run_log.h"
#include "sfxhead.h"
#include "text_format.h"

jmp_buf unwindPoint;
int internalErrorCount;
int runOutcome;

static wchar_t loadedTexts[5][LOADED_TEXT_UNITS];
static int nextLoadedText;

static void showLoaderError(wchar_t* work, const wchar_t* format, int id, int line)
{
    if (formatText(work, LOADED_TEXT_UNITS, format, id) < 0)
        internalError(SFX_MODULE_NAME, line);
    messageBox(nullptr, 0, work, nullptr, MB_ICONERROR);
}

const wchar_t* loadText(int id)
{
    wchar_t* result = loadedTexts[nextLoadedText];
    nextLoadedText = (nextLoadedText + 1) % 5;
    result[0] = 0;
    static wchar_t work[LOADED_TEXT_UNITS];
    // Each continuation moves to the next id; the length limit below ends any chain.
    for (;;) {
        int length = LoadStringW(instanceHandle, (UINT)id, work, LOADED_TEXT_UNITS);
        if (length <= 0) {
            showLoaderError(work, L"Internal error: string resource not found: %d", id, 513);
            return result;
        }
        if (textLength(result) + (uint32_t)length > LOADED_TEXT_UNITS - 2) {
            showLoaderError(work, L"Internal error: string resource too long: %d", id, 493);
            return result;
        }
        if (work[0] != L'!') {
            appendText(result, LOADED_TEXT_UNITS, work);
            return result;
        }
        appendText(result, LOADED_TEXT_UNITS, work + 1);
        id++;
    }
}

// The answer nobody gave: whatever risks nothing.
static int silentAnswer(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
        return IDCANCEL;
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDOK;
    }
}

int messageBox(HWND owner, int id, const wchar_t* text, const wchar_t* caption, UINT style)
{
    logMessage(id, text);
    if (silentMode)
        return silentAnswer(style);
    return MessageBoxW(owner, text, caption, style);
}

int showMessage(int id, const wchar_t* text, UINT style)
{
    return messageBox(mainDialogWindow, id, text, loadText(IDS_CAPTION), style);
}

void fatalMessage(int id, const wchar_t* text)
{
    runOutcome = OUTCOME_FAILED;
    showMessage(id, text, MB_ICONERROR);
    longjmp(unwindPoint, 2);
}

void headerCorrupt()
{
    fatalMessage(IDS_HEADER_DAMAGED, loadText(IDS_HEADER_DAMAGED));
}

void abortRun()
{
    runOutcome = silentMode ? OUTCOME_FAILED : OUTCOME_STOPPED;
    longjmp(unwindPoint, 2);
}

const wchar_t* formatMessageText(int line, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = formatTextV(messageText, MESSAGE_TEXT_UNITS, format, args);
    va_end(args);
    if (n < 0)
        internalError(SFX_MODULE_NAME, line);
    return messageText;
}

const wchar_t* formatPathMessage(int id, const wchar_t* path)
{
    static wchar_t text[LOADED_TEXT_UNITS + WORK_PATH_UNITS];
    if (formatText(text, LOADED_TEXT_UNITS + WORK_PATH_UNITS, loadText(id), path) < 0)
        internalError(SFX_MODULE_NAME, __LINE__);
    return text;
}

void windowNotMade()
{
    runOutcome = OUTCOME_FAILED;
    messageBox(nullptr, IDS_NO_WINDOW, loadText(IDS_NO_WINDOW), loadText(IDS_CAPTION), MB_ICONERROR);
}

void readError(int code)
{
    wchar_t suffix[16];
    formatText(suffix, 16, L" <%d>", code);
    formatMessageText(1613, loadText(IDS_READ_ERROR), programPath);
    if (!appendText(messageText, MESSAGE_TEXT_UNITS, suffix))
        internalError(SFX_MODULE_NAME, 1613);
    fatalMessage(IDS_READ_ERROR, messageText);
}

// The major (or minor) version: the first n from 0 to 9 that the system confirms as equal, else 10.
static int probeVersion(DWORD typeMask)
{
    for (int n = 0; n < 10; n++) {
        OSVERSIONINFOEXW info;
        ZeroMemory(&info, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        if (typeMask == VER_MAJORVERSION)
            info.dwMajorVersion = (DWORD)n;
        else
            info.dwMinorVersion = (DWORD)n;
        if (VerifyVersionInfoW(&info, typeMask, VerSetConditionMask(0, (BYTE)typeMask, VER_EQUAL)))
            return n;
    }
    return 10;
}

static bool atLeastXp()
{
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 5;
    info.dwMinorVersion = 1;
    ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != 0;
}

// The report's full path: in the temporary folder itself, not in the private folder below it, which is
// removed when the program ends; the current folder when there is no temporary folder.
static bool reportPath(wchar_t* path)
{
    DWORD n = GetTempPathW(PATH_UNITS, path);
    if (n == 0 || n >= PATH_UNITS) {
        n = GetCurrentDirectoryW(PATH_UNITS, path);
        if (n == 0 || n >= PATH_UNITS)
            return false;
    }
    return appendSeparator(path, PATH_UNITS) && appendText(path, PATH_UNITS, L"AKSFX32.RPT");
}

static void writeReport(const wchar_t* headline)
{
    static wchar_t reportName[PATH_UNITS];
    if (!reportPath(reportName))
        return;
    HANDLE file = CreateFileW(reportName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;

    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t modulePath[PATH_UNITS];
    DWORD n = GetModuleFileNameW(instanceHandle, modulePath, PATH_UNITS);
    if (n == 0 || n >= PATH_UNITS)
        modulePath[0] = 0;
    MEMORYSTATUS memory;
    memory.dwLength = sizeof memory;
    GlobalMemoryStatus(&memory);

    ReportFacts facts = {headline, now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, modulePath,
                         probeVersion(VER_MAJORVERSION), probeVersion(VER_MINORVERSION), atLeastXp(),
                         memory.dwMemoryLoad, memory.dwTotalPhys, memory.dwAvailPhys, memory.dwTotalVirtual,
                         memory.dwAvailVirtual};
    // The five rotating buffers hold five texts at once: load the formats in two rounds.
    static wchar_t formatCopies[10][120];
    static const int ids[10] = {IDS_REPORT_DATE, IDS_REPORT_MODULE, IDS_REPORT_VERSION, IDS_REPORT_NT,
                                IDS_REPORT_WIN9X, IDS_REPORT_MEMORY_LOAD, IDS_REPORT_TOTAL_PHYS,
                                IDS_REPORT_AVAIL_PHYS, IDS_REPORT_TOTAL_VIRTUAL, IDS_REPORT_AVAIL_VIRTUAL};
    for (int i = 0; i < 10; i++)
        copyText(formatCopies[i], 120, loadText(ids[i]));
    ReportFormats formats = {formatCopies[0], formatCopies[1], formatCopies[2], formatCopies[3],
                             formatCopies[4], formatCopies[5], formatCopies[6], formatCopies[7],
                             formatCopies[8], formatCopies[9]};
    static wchar_t report[2048];
    if (composeReport(&facts, &formats, report, 2048)) {
        DWORD written;
        WriteFile(file, report, textLength(report) * sizeof(wchar_t), &written, nullptr);
    }
    CloseHandle(file);

    // The text names the report's full path: it gets a buffer that holds any path.
    static wchar_t kept[LOADED_TEXT_UNITS + PATH_UNITS];
    if (formatText(kept, LOADED_TEXT_UNITS + PATH_UNITS, loadText(IDS_REPORT_KEPT), reportName) < 0)
        internalError(SFX_MODULE_NAME, __LINE__);
    messageBox(mainDialogWindow, IDS_REPORT_KEPT, kept, loadText(IDS_CAPTION), MB_ICONWARNING);
}

void internalError(const wchar_t* module, int line)
{
    if (internalErrorCount++ == 0) {
        // messageText may hold the text that failed; the headline gets its own buffer.
        static wchar_t headline[MESSAGE_TEXT_UNITS];
        if (formatText(headline, MESSAGE_TEXT_UNITS, loadText(IDS_INTERNAL_ERROR), module, line) >= 0) {
            messageBox(mainDialogWindow, IDS_INTERNAL_ERROR, headline, loadText(IDS_CAPTION), MB_ICONWARNING);
            writeReport(headline);
        }
    }
    logNumber(L"exit code", OUTCOME_FAILED);
    ExitProcess(OUTCOME_FAILED);
}
