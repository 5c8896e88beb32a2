// Opening this archive in the archiver product. A classic installation registers an open command for its
// archive type; a packaged one is reached through its helper program with a RunExe request, found through
// the ProgIDs registered for its cloud archive type, the helper by the full path registered for it. Only
// the registry is read; nothing is written.
#include "archiver.h"

#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include "../startup/messages.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "archiver_rules.h"
#include "relaunch.h"

enum : DWORD {
    PROGID_NAME_UNITS = 260,
    PROGID_KEY_UNITS = 260,
    MODEL_ID_UNITS = 260,
    PROGID_SCAN_LIMIT = 4096, // value names looked at before giving up
};

bool findPackagedArchiver(wchar_t* buffer, uint32_t capacity)
{
    HKEY progIds;
    if (RegOpenKeyW(HKEY_CLASSES_ROOT, L".akcloud\\OpenWithProgids", &progIds) != ERROR_SUCCESS)
        return false;
    for (DWORD index = 0; index < PROGID_SCAN_LIMIT; index++) {
        wchar_t name[PROGID_NAME_UNITS];
        DWORD nameLength = PROGID_NAME_UNITS;
        if (RegEnumValueW(progIds, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (!isPackagedProgId(name))
            continue;
        wchar_t key[PROGID_KEY_UNITS];
        wchar_t modelId[MODEL_ID_UNITS];
        DWORD size = sizeof modelId;
        if (formatText(key, PROGID_KEY_UNITS, L"%s\\Application", name) < 0
            || RegGetValueW(HKEY_CLASSES_ROOT, key, L"AppUserModelID", RRF_RT_REG_SZ, nullptr, modelId, &size)
                   != ERROR_SUCCESS
            || !isArkletModelId(modelId))
            continue;
        size = capacity * sizeof(wchar_t);
        if (formatText(key, PROGID_KEY_UNITS, L"%s\\Shell\\open", name) >= 0
            && RegGetValueW(HKEY_CLASSES_ROOT, key, L"PackageRelativeExecutable", RRF_RT_REG_SZ, nullptr, buffer,
                            &size)
                   == ERROR_SUCCESS) {
            RegCloseKey(progIds);
            return true;
        }
    }
    RegCloseKey(progIds);
    return false;
}

// The helper program's full path as registered, machine-wide first, then for the user; only an absolute
// path that names an existing file. The helper is started in the started file's folder, where anyone may
// have put a file of its name: a bare name would find that one first.
static bool findHelperProgram(wchar_t* path, uint32_t capacity)
{
    HKEY roots[2] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
    for (int i = 0; i < 2; i++) {
        DWORD size = capacity * sizeof(wchar_t);
        // A REG_EXPAND_SZ value comes back expanded.
        if (RegGetValueW(roots[i], ARKLET_HELPER_APP_PATH, nullptr, RRF_RT_REG_SZ, nullptr, path, &size)
                != ERROR_SUCCESS
            || !takeAbsoluteProgramPath(path))
            continue;
        DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
    }
    return false;
}

// The command and parameters for the archiver; false when none is installed (or Shift is held).
static bool locateArchiver(wchar_t* command, wchar_t* parameters, const wchar_t* archivePath)
{
    if (GetKeyState(VK_SHIFT) < 0)
        return false;
    LONG size = ARCHIVER_COMMAND_UNITS * sizeof(wchar_t);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, L"arklet\\shell\\open\\command", command, &size) == ERROR_SUCCESS) {
        cutOpenCommand(command);
        return quoteArchivePath(parameters, PATH_UNITS, archivePath);
    }
    wchar_t packageExecutable[PACKAGE_EXECUTABLE_UNITS];
    if (!findPackagedArchiver(packageExecutable, PACKAGE_EXECUTABLE_UNITS)
        || !findHelperProgram(command, ARCHIVER_COMMAND_UNITS))
        return false;
    // A request longer than its bound is not sent cut short: the archiver counts as not found.
    return formatRunExeRequest(parameters, ARCHIVER_PARAMETER_UNITS, packageExecutable, archivePath);
}

bool runArchiver()
{
    wchar_t archivePath[PATH_UNITS];
    copyText(archivePath, PATH_UNITS, programPath);
    recoverLaunchPath(archivePath, PATH_UNITS);
    wchar_t folder[PATH_UNITS];
    copyText(folder, PATH_UNITS, archivePath);
    PathRemoveFileSpecW(folder);

    wchar_t command[ARCHIVER_COMMAND_UNITS];
    wchar_t parameters[ARCHIVER_PARAMETER_UNITS];
    if (!locateArchiver(command, parameters, archivePath)) {
        showMessage(IDS_ARCHIVER_MISSING, loadText(IDS_ARCHIVER_MISSING), MB_OK);
        return false;
    }
    renameForZipVolumes(parameters, parameterBlock.flags);
    HINSTANCE started = ShellExecuteW(nullptr, nullptr, command, parameters, folder, SW_SHOWNORMAL);
    return (INT_PTR)started > 32;
}
