#include "run_rules.h"

#include "../archive/path_rules.h"
#include "../startup/text_format.h"

bool splitRunCommand(const wchar_t* command, wchar_t* program, uint32_t programCapacity, const wchar_t** arguments)
{
    while (*command == L' ')
        command++;
    bool quoted = *command == L'"';
    const wchar_t* start = quoted ? command + 1 : command;
    const wchar_t* end = start;
    while (*end && (quoted ? *end != L'"' : *end != L' '))
        end++;
    if ((quoted && !*end) || end == start || (uint32_t)(end - start) >= programCapacity)
        return false;
    for (uint32_t i = 0; start + i < end; i++)
        program[i] = start[i];
    program[end - start] = 0;
    const wchar_t* rest = quoted ? end + 1 : end;
    while (*rest == L' ')
        rest++;
    *arguments = rest;
    return true;
}

bool isRunnableProgramName(const wchar_t* program)
{
    uint32_t n = textLength(program);
    return n > 0 && !isSeparator(program[0]) && !isSeparator(program[n - 1]) && entryNameIsSafe(program);
}

bool formatRunCommandLine(const wchar_t* fullPath, const wchar_t* arguments, wchar_t* out, uint32_t capacity)
{
    int n = arguments[0] ? formatText(out, capacity, L"\"%s\" %s", fullPath, arguments)
                         : formatText(out, capacity, L"\"%s\"", fullPath);
    return n >= 0;
}

// ASCII letters of text equal to lower (lower-case ASCII), ignoring case, over all of text.
static bool equalsAsciiIgnoringCase(const wchar_t* text, const wchar_t* lower)
{
    for (; *lower; text++, lower++) {
        wchar_t c = *text;
        if (c >= L'A' && c <= L'Z')
            c = (wchar_t)(c - L'A' + L'a');
        if (c != *lower)
            return false;
    }
    return *text == 0;
}

RunKind runKindOf(const wchar_t* program)
{
    const wchar_t* extension = nullptr;
    for (const wchar_t* p = program; *p; p++) {
        if (isSeparator(*p))
            extension = nullptr;
        else if (*p == L'.')
            extension = p + 1;
    }
    if (!extension)
        return RUN_REFUSED;
    if (equalsAsciiIgnoringCase(extension, L"exe"))
        return RUN_PROGRAM;
    if (equalsAsciiIgnoringCase(extension, L"msi"))
        return RUN_PACKAGE;
    return RUN_REFUSED;
}

bool formatInstallerPath(const wchar_t* systemFolder, wchar_t* out, uint32_t capacity)
{
    uint32_t n = textLength(systemFolder);
    const wchar_t* separator = n > 0 && isSeparator(systemFolder[n - 1]) ? L"" : L"\\";
    return formatText(out, capacity, L"%s%smsiexec.exe", systemFolder, separator) >= 0;
}

bool formatPackageCommandLine(const wchar_t* installerPath, const wchar_t* packagePath, const wchar_t* arguments,
                              wchar_t* out, uint32_t capacity)
{
    int n = arguments[0] ? formatText(out, capacity, L"\"%s\" /i \"%s\" %s", installerPath, packagePath, arguments)
                         : formatText(out, capacity, L"\"%s\" /i \"%s\"", installerPath, packagePath);
    return n >= 0;
}
