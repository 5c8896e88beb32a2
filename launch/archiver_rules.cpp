#include "archiver_rules.h"

#include "../startup/payload_format.h"
#include "../startup/text_format.h"

#define RUNEXE_DELIMITER L"{6A41C9E2-57B3-4D08-9F1E-2C8B0D7A3E55}"

static wchar_t lowerAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? (wchar_t)(c + (L'a' - L'A')) : c;
}

// True when text begins with prefix, compared without regard to ASCII case.
static bool beginsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    for (; *prefix; text++, prefix++)
        if (!*text || lowerAscii(*text) != lowerAscii(*prefix))
            return false;
    return true;
}

void cutOpenCommand(wchar_t* command)
{
    for (wchar_t* p = command; *p; p++)
        if (beginsWithNoCase(p, L" \"%1")) {
            *p = 0;
            return;
        }
}

bool isPackagedProgId(const wchar_t* name)
{
    return beginsWithNoCase(name, L"AppX") && name[4] != 0;
}

bool isArkletModelId(const wchar_t* modelId)
{
    return beginsWithNoCase(modelId, L"ArkletComputing.");
}

bool takeAbsoluteProgramPath(wchar_t* path)
{
    uint32_t n = textLength(path);
    if (n >= 2 && path[0] == L'"' && path[n - 1] == L'"') {
        for (uint32_t i = 1; i < n - 1; i++)
            path[i - 1] = path[i];
        path[n - 2] = 0;
    }
    wchar_t drive = lowerAscii(path[0]);
    if (drive >= L'a' && drive <= L'z' && path[1] == L':' && path[2] == L'\\')
        return true;
    return path[0] == L'\\' && path[1] == L'\\' && path[2] != 0 && path[2] != L'\\';
}

bool quoteArchivePath(wchar_t* out, uint32_t capacity, const wchar_t* archivePath)
{
    return formatText(out, capacity, L"\"%s\"", archivePath) >= 0;
}

bool formatRunExeRequest(wchar_t* out, uint32_t capacity, const wchar_t* packageExecutable,
                         const wchar_t* archivePath)
{
    return formatText(out, capacity, L"RunExe" RUNEXE_DELIMITER L"%s" RUNEXE_DELIMITER L"\"%s\"",
                      packageExecutable, archivePath) >= 0;
}

bool renameForZipVolumes(wchar_t* parameters, uint32_t flags)
{
    if (!(flags & SFXF_SPANNED) || (flags & SFXF_EXE_VOLUMES))
        return false;
    uint32_t n = textLength(parameters);
    if (n < 4)
        return false;
    parameters[n - 4] = L'z';
    parameters[n - 3] = L'i';
    parameters[n - 2] = L'p';
    return true;
}
