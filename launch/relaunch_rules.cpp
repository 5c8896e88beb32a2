#include "relaunch_rules.h"

#include "../startup/text_format.h"

static const wchar_t* restOfCommandLine(const wchar_t* commandLine, const wchar_t* programName)
{
    uint32_t nameLength = textLength(programName);
    uint32_t lineLength = textLength(commandLine);
    bool unquoted = true;
    for (uint32_t i = 0; i < nameLength; i++)
        if (i >= lineLength || commandLine[i] != programName[i]) {
            unquoted = false;
            break;
        }
    uint32_t skip = unquoted ? nameLength : nameLength + 2;
    // A name that was split in some other way must not move the rest past the end of the line.
    return commandLine + (skip < lineLength ? skip : lineLength);
}

uint32_t copyCommandLineUnits(const wchar_t* commandLine, const wchar_t* programName, const wchar_t* startedPath)
{
    return textLength(restOfCommandLine(commandLine, programName)) + textLength(RELAUNCH_MARKERS)
           + textLength(startedPath) + 2;
}

void buildCopyCommandLine(const wchar_t* commandLine, const wchar_t* programName, const wchar_t* startedPath,
                          wchar_t* out)
{
    uint32_t capacity = copyCommandLineUnits(commandLine, programName, startedPath);
    copyText(out, capacity, restOfCommandLine(commandLine, programName));
    appendText(out, capacity, RELAUNCH_MARKERS);
    appendText(out, capacity, startedPath);
    appendText(out, capacity, L"\"");
}

void folderNameFor(uint32_t n, wchar_t out[9])
{
    formatText(out, 9, L"%lx", (unsigned long)n);
}

bool isRunMarker(const wchar_t* argument, bool exactCase)
{
    static const wchar_t marker[] = L"-run=1";
    uint32_t i = 0;
    for (; marker[i]; i++) {
        wchar_t c = argument[i];
        if (!exactCase && c >= L'A' && c <= L'Z')
            c = (wchar_t)(c + (L'a' - L'A'));
        if (c != marker[i])
            return false;
    }
    return argument[i] == 0;
}

const wchar_t* findShortcutArgument(wchar_t* const* arguments, int count)
{
    static const wchar_t prefix[] = L"-shortcut=";
    for (int i = 0; i < count; i++) {
        uint32_t k = 0;
        while (prefix[k] && arguments[i][k] == prefix[k])
            k++;
        if (!prefix[k])
            return arguments[i] + k;
    }
    return nullptr;
}
