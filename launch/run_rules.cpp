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
