// Choosing the target folder.
#include "folder_select.h"

#include <shlobj.h>

#include "../archive/path_rules.h"
#include "../launch/relaunch.h"
#include "../startup/messages.h"
#include "../startup/payload_format.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "dialog_rules.h"

enum : int { FOLDER_FIELD = 106 };

static bool environmentFolder(const wchar_t* name, wchar_t* buffer)
{
    DWORD n = GetEnvironmentVariableW(name, buffer, PATH_UNITS);
    return n > 0 && n < PATH_UNITS && buffer[0];
}

static bool windowsTempFolder(wchar_t* buffer)
{
    UINT n = GetWindowsDirectoryW(buffer, 250);
    if (n == 0 || n >= 250)
        return false;
    if (!appendSeparator(buffer, PATH_UNITS) || !appendText(buffer, PATH_UNITS, loadText(IDS_TEMP)))
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(buffer, &found);
    if (search == INVALID_HANDLE_VALUE)
        return CreateDirectoryW(buffer, nullptr) != 0;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool defaultTempFolder(wchar_t* buffer)
{
    wchar_t folder[PATH_UNITS];
    if (!environmentFolder(L"TMP", folder) && !environmentFolder(L"TEMP", folder) && !windowsTempFolder(folder))
        return false;
    stripTrailingBackslash(folder);
    copyText(buffer, PATH_UNITS, folder);
    return true;
}

static int CALLBACK browseCallback(HWND window, UINT message, LPARAM, LPARAM)
{
    if (message == BFFM_INITIALIZED) {
        SetWindowLongW(window, GWL_STYLE, GetWindowLongW(window, GWL_STYLE) & ~DS_CONTEXTHELP);
        SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_CONTEXTHELP);
    }
    return 0;
}

void browseForFolder(HWND dialog)
{
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator)
        return;
    wchar_t displayName[MAX_PATH];
    BROWSEINFOW info;
    ZeroMemory(&info, sizeof info);
    info.hwndOwner = dialog;
    info.pszDisplayName = displayName;
    info.lpszTitle = loadText(IDS_BROWSE_TITLE);
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    info.lpfn = browseCallback;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    if (chosen) {
        wchar_t path[MAX_PATH];
        if (SHGetPathFromIDListW(chosen, path)) {
            copyText(targetFolder, PATH_UNITS, path);
            SetDlgItemTextW(dialog, FOLDER_FIELD, targetFolder);
        }
        allocator->Free(chosen);
    }
    allocator->Release();
}
