#include "volume_rules.h"

#include "../startup/text_format.h"
#include "path_rules.h"

uint16_t parseVolumeLabel(const wchar_t* label)
{
    static const wchar_t prefix[] = L"PKBACK#";
    for (int i = 0; prefix[i]; i++)
        if (label[i] != prefix[i])
            return NOT_A_SET_LABEL;
    const wchar_t* p = label;
    while (*p && *p != L' ' && *p != L'.')
        p++;
    if (!*p)
        return NOT_A_SET_LABEL;
    while (*p && !(*p >= L'0' && *p <= L'9'))
        p++;
    if (!*p)
        return NOT_A_SET_LABEL;
    uint32_t value = 0;
    for (; *p >= L'0' && *p <= L'9'; p++)
        value = (value * 10 + (uint32_t)(*p - L'0')) & 0xFFFF;
    return (uint16_t)value;
}

bool volumeFileName(const wchar_t* setPath, bool exeNamed, wchar_t* out, uint32_t capacity)
{
    if (!copyText(out, capacity, setPath))
        return false;
    wchar_t* name = (wchar_t*)fileNamePart(out);
    wchar_t* dot = nullptr;
    for (wchar_t* p = name; *p; p++)
        if (*p == L'.')
            dot = p;
    if (dot)
        *dot = 0;
    return appendText(out, capacity, exeNamed ? L".EXE" : L".ZIP");
}
