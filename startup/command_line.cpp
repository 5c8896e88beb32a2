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
