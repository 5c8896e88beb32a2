#include "path_rules.h"

#include "../startup/text_format.h"

const wchar_t* fileNamePart(const wchar_t* path)
{
    const wchar_t* name = path;
    for (uint32_t i = 1; path[0] && path[i]; i++)
        if (isSeparator(path[i]))
            name = path + i + 1;
    return name;
}

bool appendSeparator(wchar_t* path, uint32_t capacity)
{
    uint32_t n = textLength(path);
    if (n > 0 && isSeparator(path[n - 1]))
        return true;
    return appendText(path, capacity, L"\\");
}

bool isRelativeFolder(const wchar_t* folder)
{
    bool driveLetter = ((folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z') && folder[1] == L':';
    return folder[0] && !isSeparator(folder[0]) && !driveLetter;
}

bool resolveRelativeFolder(const wchar_t* base, const wchar_t* folder, wchar_t* out, uint32_t capacity)
{
    while (folder[0] == L'.' && isSeparator(folder[1]))
        folder += 2;
    bool self = folder[0] == 0 || (folder[0] == L'.' && folder[1] == 0);
    wchar_t joined[WORK_PATH_UNITS];
    if (!copyText(joined, WORK_PATH_UNITS, base))
        return false;
    if (!self && (!appendSeparator(joined, WORK_PATH_UNITS) || !appendText(joined, WORK_PATH_UNITS, folder)))
        return false;
    if (textLength(joined) >= capacity)
        return false;
    copyText(out, capacity, joined);
    return true;
}

enum : uint32_t { VARIABLE_NAME_UNITS = 256, VARIABLE_VALUE_UNITS = WORK_PATH_UNITS };

// The length of the variable name that follows the '%' at text (up to its closing '%'), 0 when none does.
static uint32_t variableNameLength(const wchar_t* text)
{
    uint32_t n = 1;
    for (; text[n] && text[n] != L'%'; n++)
        if (isSeparator(text[n]) || text[n] == L':')
            return 0;
    return text[n] == L'%' ? n - 1 : 0;
}

ExpandResult expandFolderVariables(const wchar_t* folder, VariableLookup lookup, wchar_t* out, uint32_t capacity,
                                   wchar_t* unknown, uint32_t unknownCapacity)
{
    if (capacity == 0)
        return EXPAND_TOO_LONG;
    out[0] = 0;
    for (const wchar_t* p = folder; *p;) {
        wchar_t piece[VARIABLE_VALUE_UNITS];
        uint32_t name = *p == L'%' ? variableNameLength(p) : 0;
        if (*p == L'%' && p[1] == L'%') {
            copyText(piece, VARIABLE_VALUE_UNITS, L"%");
            p += 2;
        } else if (name > 0) {
            wchar_t variable[VARIABLE_NAME_UNITS];
            if (name >= VARIABLE_NAME_UNITS)
                return EXPAND_TOO_LONG;
            for (uint32_t i = 0; i < name; i++)
                variable[i] = p[1 + i];
            variable[name] = 0;
            if (!lookup(variable, piece, VARIABLE_VALUE_UNITS)) {
                if (unknownCapacity > 0) {
                    unknown[0] = 0;
                    appendText(unknown, unknownCapacity, variable);
                }
                return EXPAND_UNKNOWN;
            }
            p += name + 2;
        } else {
            piece[0] = *p++;
            piece[1] = 0;
        }
        if (!appendText(out, capacity, piece))
            return EXPAND_TOO_LONG;
    }
    return EXPAND_DONE;
}

static wchar_t upper(wchar_t c)
{
    return (c >= L'a' && c <= L'z') ? (wchar_t)(c - 32) : c;
}

// The digits Windows reserves after COM and LPT: 0 to 9, and the superscripts one, two and three.
static bool isPortDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
}

// Compares the component's base name (up to its first '.', trailing blanks dropped, as Windows does when
// it resolves a device) with a device name.
static bool isDeviceName(const wchar_t* component, uint32_t length)
{
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    uint32_t base = 0;
    while (base < length && component[base] != L'.')
        base++;
    while (base > 0 && component[base - 1] == L' ')
        base--;
    for (const wchar_t* device : devices) {
        uint32_t k = 0;
        while (k < base && device[k] && upper(component[k]) == device[k])
            k++;
        if (k == base && !device[k])
            return true;
    }
    if (base == 4) {
        wchar_t a = upper(component[0]), b = upper(component[1]), c = upper(component[2]), d = component[3];
        bool com = a == L'C' && b == L'O' && c == L'M', lpt = a == L'L' && b == L'P' && c == L'T';
        if ((com || lpt) && isPortDigit(d))
            return true;
    }
    return false;
}

static bool componentIsSafe(const wchar_t* component, uint32_t length)
{
    if (length == 0)
        return false;
    bool onlyDots = true;
    for (uint32_t i = 0; i < length; i++) {
        wchar_t c = component[i];
        if (c < 0x20 || c == L':' || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*')
            return false;
        // What a name that is no valid UTF-8 decodes to: such a name is not what its maker wrote.
        if (c == 0xFFFD)
            return false;
        if (c != L'.' && c != L' ')
            onlyDots = false;
    }
    wchar_t last = component[length - 1];
    return !onlyDots && last != L'.' && last != L' ' && !isDeviceName(component, length);
}

bool entryNameIsSafe(const wchar_t* name)
{
    if (isSeparator(name[0]))
        name++;
    if (!name[0])
        return false;
    const wchar_t* start = name;
    for (const wchar_t* p = name;; p++) {
        if (*p == 0 || isSeparator(*p)) {
            uint32_t length = (uint32_t)(p - start);
            bool finalOfFolder = *p == 0 && length == 0 && p > name;
            if (!finalOfFolder && !componentIsSafe(start, length))
                return false;
            if (*p == 0)
                return true;
            start = p + 1;
        }
    }
}

bool joinOutputPath(const wchar_t* folder, const wchar_t* name, wchar_t* out)
{
    if (isSeparator(name[0]))
        name++;
    if (textLength(folder) + 1 + textLength(name) > OUTPUT_PATH_MAX) {
        out[0] = 0;
        return false;
    }
    copyText(out, OUTPUT_PATH_MAX + 1, folder);
    appendText(out, OUTPUT_PATH_MAX + 1, name);
    for (wchar_t* p = out; *p; p++)
        if (*p == L'/')
            *p = L'\\';
    return true;
}

uint32_t folderScanStart(const wchar_t* path)
{
    uint32_t i = 0;
    if (isSeparator(path[0]) && isSeparator(path[1])) {
        // Pass over the server name and the share name.
        i = 2;
        for (int part = 0; part < 2; part++) {
            while (path[i] && !isSeparator(path[i]))
                i++;
            if (part == 0 && path[i])
                i++;
        }
    }
    if (isSeparator(path[i]))
        i++;
    return i;
}

void temporaryPathBeside(const wchar_t* path, uint32_t serial, uint32_t count, wchar_t* out)
{
    static const wchar_t hex[] = L"0123456789abcdef";
    // The folder part ends after the last separator, wherever it is (for \a.txt, the root).
    uint32_t length = textLength(path), folderLength = 0;
    for (uint32_t i = 0; i < length; i++)
        if (isSeparator(path[i]))
            folderLength = i + 1;
    uint32_t nameLength = length - folderLength;
    uint32_t room = folderLength < TEMPORARY_PATH_SHORT ? TEMPORARY_PATH_SHORT - folderLength : 0;
    if (room < nameLength)
        room = nameLength;
    wchar_t digits[13];
    for (int i = 0; i < 8; i++)
        digits[i] = hex[(serial >> (28 - 4 * i)) & 0xF];
    for (int i = 0; i < 4; i++)
        digits[8 + i] = hex[(count >> (12 - 4 * i)) & 0xF];
    digits[12] = 0;
    wchar_t name[TEMPORARY_NAME_FULL + 1];
    if (room >= TEMPORARY_NAME_FULL) {
        copyText(name, TEMPORARY_NAME_FULL + 1, L".aksfx");
        appendText(name, TEMPORARY_NAME_FULL + 1, digits);
        appendText(name, TEMPORARY_NAME_FULL + 1, L".tmp");
    } else {
        // A '.' and the last digits; the last digit alone when room is 1 (a file name of one character).
        uint32_t take = room > 1 ? room - 1 : room;
        if (take > 12)
            take = 12;
        copyText(name, TEMPORARY_NAME_FULL + 1, room > 1 ? L"." : L"");
        appendText(name, TEMPORARY_NAME_FULL + 1, digits + 12 - take);
    }
    // The folder part is a start of path, which fits; the name fits the room measured above.
    for (uint32_t i = 0; i < folderLength; i++)
        out[i] = path[i];
    out[folderLength] = 0;
    appendText(out, OUTPUT_PATH_MAX + 1, name);
}

void clampDosDateTime(uint16_t* date, uint16_t* time)
{
    uint16_t seconds = *time & 0x1F, minutes = (*time >> 5) & 0x3F, hours = *time >> 11;
    if (seconds > 29)
        seconds = 29;
    if (minutes > 59)
        minutes = 59;
    if (hours > 23)
        hours = 23;
    *time = (uint16_t)(seconds | (minutes << 5) | (hours << 11));
    uint16_t day = *date & 0x1F, month = (*date >> 5) & 0x0F, year = *date >> 9;
    if (day == 0)
        day = 1;
    if (month == 0)
        month = 1;
    if (month > 12)
        month = 12;
    *date = (uint16_t)(day | (month << 5) | (year << 9));
}

uint32_t knownFolderPrefix(const wchar_t* path, uint32_t limit, const wchar_t* known, uint32_t knownLength)
{
    uint32_t n = 0;
    while (n < limit && n < knownLength && path[n] == known[n])
        n++;
    while (n > 0 && !isSeparator(path[n - 1]))
        n--;
    return n;
}

uint32_t meterPosition(uint32_t bytesDone, uint32_t totalSize)
{
    if (totalSize == 0)
        return 100;
    if (totalSize < 100)
        return (uint32_t)((uint64_t)bytesDone * 100 / totalSize);
    return bytesDone / (totalSize / 100);
}
