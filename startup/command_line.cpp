#include "command_line.h"

#include "text_format.h"

static bool startsWith(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix; text++, prefix++)
        if (*text != *prefix)
            return false;
    return true;
}

static long parseDecimal(const wchar_t* p)
{
    while (*p == L' ' || *p == L'\t')
        p++;
    bool negative = false;
    if (*p == L'-' || *p == L'+')
        negative = *p++ == L'-';
    unsigned long value = 0;
    for (; *p >= L'0' && *p <= L'9'; p++)
        value = value * 10 + (unsigned long)(*p - L'0'); // wraps on absurd input like the system's parser
    return negative ? (long)(0ul - value) : (long)value;
}

InfoParentScan scanInfoAndParent(const wchar_t* commandLine)
{
    InfoParentScan scan = {false, false, 0};
    const wchar_t* p = commandLine;
    while (*p) {
        if (startsWith(p, L"-info")) {
            scan.infoFound = true;
            break;
        }
        if (startsWith(p, L"-parent=")) {
            scan.parentGiven = true;
            scan.parentWindow = parseDecimal(p + 8);
            p += 8;
        } else {
            p++;
        }
    }
    return scan;
}

AutoSwitch findAutoSwitch(wchar_t* commandLine, const wchar_t* autoWord, const wchar_t* noautoWord,
                          const wchar_t** rest)
{
    wchar_t* p = commandLine;
    while (*p && *p != L'-' && *p != L'/')
        p++;
    if (!*p)
        return AUTO_SWITCH_NONE;
    p++;
    uint32_t shorter = textLength(autoWord) < textLength(noautoWord) ? textLength(autoWord) : textLength(noautoWord);
    if (textLength(p) < shorter)
        return AUTO_SWITCH_NONE;
    for (wchar_t* q = p; *q && *q != L' '; q++)
        *q = (wchar_t)(*q & 0xDF);
    if (startsWith(p, noautoWord))
        return AUTO_SWITCH_NOAUTO;
    if (!startsWith(p, autoWord))
        return AUTO_SWITCH_NONE;
    p += textLength(autoWord);
    while (*p == L' ')
        p++;
    *rest = p;
    if (textLength(p) > 260)
        return AUTO_SWITCH_TOO_LONG;
    return AUTO_SWITCH_AUTO;
}

const wchar_t* firstFolderArgument(wchar_t* const* arguments, int count)
{
    for (int i = 0; i < count; i++)
        if (arguments[i][0] != L'-')
            return arguments[i];
    return nullptr;
}

static bool isArgumentBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// Adds c to the value being read, or marks it cut when it is full.
static void putValue(wchar_t* value, uint32_t capacity, uint32_t* length, bool* cut, wchar_t c)
{
    if (*length + 1 < capacity)
        value[(*length)++] = c;
    else
        *cut = true;
}

bool nextArgument(const wchar_t* text, uint32_t* position, uint32_t* start, wchar_t* value, uint32_t capacity,
                  bool* cut)
{
    uint32_t i = *position;
    while (isArgumentBlank(text[i]))
        i++;
    *position = i;
    if (!text[i])
        return false;
    *start = i;
    *cut = false;
    uint32_t length = 0;
    int quotes = 0; // 1 inside quotes
    // Every round takes at least one character.
    while (text[i] && (quotes != 0 || !isArgumentBlank(text[i]))) {
        uint32_t backslashes = 0;
        while (text[i + backslashes] == L'\\')
            backslashes++;
        if (backslashes > 0 && text[i + backslashes] != L'"') {
            for (; backslashes > 0; backslashes--, i++)
                putValue(value, capacity, &length, cut, L'\\');
            continue;
        }
        if (backslashes == 0 && text[i] != L'"') {
            putValue(value, capacity, &length, cut, text[i++]);
            continue;
        }
        // Backslashes before a quote are halved; an odd one makes the first quote literal. In a run of
        // quotes every third is literal, and the run leaves the quoting as it found it when it ends on
        // the second.
        for (uint32_t k = 0; k < backslashes / 2; k++)
            putValue(value, capacity, &length, cut, L'\\');
        i += backslashes;
        if (backslashes % 2 == 1) {
            putValue(value, capacity, &length, cut, L'"');
            i++;
        }
        for (; text[i] == L'"'; i++) {
            if (++quotes == 3) {
                putValue(value, capacity, &length, cut, L'"');
                quotes = 0;
            }
        }
        if (quotes == 2)
            quotes = 0;
    }
    if (capacity > 0)
        value[length] = 0;
    *position = i;
    return true;
}

static wchar_t upperAscii(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? (wchar_t)(c - L'a' + L'A') : c;
}

// The text after the switch character when the argument is that switch (letter case ignored): for a
// word ending in '=' the value that follows it, else the empty end of the argument. Null otherwise.
static const wchar_t* switchValue(const wchar_t* argument, const wchar_t* word)
{
    if (argument[0] != L'/' && argument[0] != L'-')
        return nullptr;
    const wchar_t* p = argument + 1;
    for (; *word; p++, word++)
        if (upperAscii(*p) != *word)
            return nullptr;
    return (p[-1] == L'=' || !*p) ? p : nullptr;
}

// Takes a path switch's value; *pathCut tells whether it was too long to be a path.
static void takePath(wchar_t* path, bool* pathCut, const wchar_t* value, bool cut)
{
    *pathCut = !copyText(path, SWITCH_PATH_UNITS, value) || cut;
}

void readRunSwitches(wchar_t* arguments, RunSwitches* switches)
{
    switches->silent = false;
    switches->help = false;
    switches->overwrite = OVERWRITE_AS_BUILT;
    switches->logPathCut = false;
    switches->passwordPathCut = false;
    switches->logPath[0] = 0;
    switches->passwordPath[0] = 0;
    // "/PASSWORD-FILE=" and a path of 260 characters; anything longer is cut and marked.
    static wchar_t value[SWITCH_PATH_UNITS + 16];
    uint32_t position = 0, start = 0;
    bool cut = false;
    while (nextArgument(arguments, &position, &start, value, SWITCH_PATH_UNITS + 16, &cut)) {
        const wchar_t* rest;
        bool known = true;
        if (switchValue(value, L"S") || switchValue(value, L"SILENT"))
            switches->silent = true;
        else if (switchValue(value, L"OVERWRITE"))
            switches->overwrite = OVERWRITE_ALWAYS;
        else if (switchValue(value, L"NOOVERWRITE"))
            switches->overwrite = OVERWRITE_NEVER;
        else if (switchValue(value, L"?") || switchValue(value, L"H") || switchValue(value, L"HELP")
                 || switchValue(value, L"-HELP"))
            switches->help = true;
        else if ((rest = switchValue(value, L"LOG=")) != nullptr)
            takePath(switches->logPath, &switches->logPathCut, rest, cut);
        else if ((rest = switchValue(value, L"PASSWORD-FILE=")) != nullptr)
            takePath(switches->passwordPath, &switches->passwordPathCut, rest, cut);
        else
            known = false;
        if (known)
            for (uint32_t i = start; i < position; i++)
                arguments[i] = L' ';
    }
}

bool silentFolderArgument(const wchar_t* arguments, wchar_t* folder, uint32_t capacity)
{
    static wchar_t value[SWITCH_PATH_UNITS];
    uint32_t position = 0, start = 0;
    bool cut = false;
    while (nextArgument(arguments, &position, &start, value, SWITCH_PATH_UNITS, &cut)) {
        if (value[0] == L'-' || value[0] == L'/')
            continue;
        if (capacity > 0) {
            folder[0] = 0;
            appendText(folder, capacity, value);
        }
        return true;
    }
    return false;
}
