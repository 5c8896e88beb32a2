// The private relaunch.
//
// The copy is told apart by the argument "-run=1"; "-shortcut=" carries the path of the started file,
// quoted on the command line so that the system's splitter keeps blanks in it. The private folder is
// named by a tick count in hexadecimal, counted up while the name is taken.
#include "relaunch.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "../startup/text_format.h"
#include "relaunch_rules.h"

enum : uint32_t { PATH_BUFFER = 260, LONG_TEMP_BUFFER = 520 };

// Tick counts are tried upward; a temporary folder with this many taken names in a row is hopeless.
enum : uint32_t { MAX_FOLDER_ATTEMPTS = 65536 };

struct ArgumentList {
    wchar_t** items;
    int count;
};

static ArgumentList splitCommandLine()
{
    ArgumentList list = {nullptr, 0};
    list.items = CommandLineToArgvW(GetCommandLineW(), &list.count);
    if (!list.items)
        list.count = 0;
    return list;
}

static void loadLanguagePackFromSystemFolder()
{
    wchar_t path[PATH_BUFFER];
    UINT n = GetSystemDirectoryW(path, PATH_BUFFER);
    if (n == 0 || n >= PATH_BUFFER || !appendText(path, PATH_BUFFER, L"\\lpk.dll"))
        return;
    LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

static bool redirectionPresent()
{
    wchar_t path[266];
    DWORD n = GetModuleFileNameW(nullptr, path, PATH_BUFFER);
    if (n == 0 || n >= PATH_BUFFER)
        return false;
    appendText(path, 266, L".local");
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool temporaryFolder(wchar_t* folder)
{
    wchar_t shortForm[PATH_BUFFER];
    DWORD n = GetTempPathW(PATH_BUFFER, shortForm);
    if (n == 0 || n >= 259)
        return false;
    PathAddBackslashW(shortForm);
    wchar_t longForm[LONG_TEMP_BUFFER];
    DWORD m = GetLongPathNameW(shortForm, longForm, LONG_TEMP_BUFFER);
    if (m == 0 || m >= PATH_BUFFER)
        copyText(folder, PATH_BUFFER, shortForm);
    else
        copyText(folder, PATH_BUFFER, longForm);
    return true;
}

bool makeUniqueFolder(wchar_t* folder)
{
    if (!PathFileExistsW(folder))
        return false;
    uint32_t n = GetTickCount();
    wchar_t candidate[PATH_BUFFER];
    for (uint32_t attempt = 0;; attempt++, n++) {
        if (attempt == MAX_FOLDER_ATTEMPTS)
            return false;
        wchar_t name[9];
        folderNameFor(n, name);
        if (!PathCombineW(candidate, folder, name) || !PathAddBackslashW(candidate))
            return false;
        if (!PathFileExistsW(candidate))
            break;
    }
    // Only a folder this process made itself may be used (and later deleted).
    if (!CreateDirectoryW(candidate, nullptr))
        return false;
    copyText(folder, PATH_BUFFER, candidate);
    return true;
}

bool deleteFolderTree(const wchar_t* folder)
{
    wchar_t pattern[PATH_BUFFER];
    if (!PathCombineW(pattern, folder, L"*"))
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            wchar_t child[PATH_BUFFER];
            if (!PathCombineW(child, folder, found.cFileName))
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (lstrcmpW(found.cFileName, L".") != 0 && lstrcmpW(found.cFileName, L"..") != 0)
                    deleteFolderTree(child);
            } else {
                DeleteFileW(child);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder) != 0;
}

static void runCopy(const wchar_t* copyPath, const wchar_t* folder, const wchar_t* startedPath,
                    const ArgumentList* arguments)
{
    const wchar_t* commandLine = GetCommandLineW();
    const wchar_t* programName = arguments->count > 0 ? arguments->items[0] : L"";
    uint32_t units = copyCommandLineUnits(commandLine, programName, startedPath);
    wchar_t* copyCommandLine = (wchar_t*)LocalAlloc(LMEM_FIXED, units * sizeof(wchar_t));
    if (!copyCommandLine)
        return;
    buildCopyCommandLine(commandLine, programName, startedPath, copyCommandLine);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessW(copyPath, copyCommandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    LocalFree(copyCommandLine);
}

bool relaunchFromTemporaryCopy()
{
    loadLanguagePackFromSystemFolder();
    if (redirectionPresent())
        ExitProcess(1);

    ArgumentList arguments = splitCommandLine();
    for (int i = 0; i < arguments.count; i++)
        if (isRunMarker(arguments.items[i], false)) {
            LocalFree(arguments.items);
            return true;
        }

    wchar_t startedPath[PATH_BUFFER];
    DWORD n = GetModuleFileNameW(nullptr, startedPath, PATH_BUFFER);
    wchar_t folder[PATH_BUFFER];
    // Without a private folder of its own the process neither copies itself nor deletes anything: it
    // ends as after a failed copy.
    if (n > 0 && n < PATH_BUFFER && temporaryFolder(folder) && makeUniqueFolder(folder)) {
        wchar_t copyPath[PATH_BUFFER];
        if (PathCombineW(copyPath, folder, PathFindFileNameW(startedPath))
            && CopyFileW(startedPath, copyPath, TRUE))
            runCopy(copyPath, folder, startedPath, &arguments);
        deleteFolderTree(folder);
    }
    LocalFree(arguments.items);
    return false;
}

bool recoverLaunchPath(wchar_t* buffer, uint32_t capacity)
{
    ArgumentList arguments = splitCommandLine();
    bool isCopy = false;
    for (int i = 0; i < arguments.count && !isCopy; i++)
        isCopy = isRunMarker(arguments.items[i], true);
    const wchar_t* path = isCopy ? findShortcutArgument(arguments.items, arguments.count) : nullptr;
    if (path && capacity > 0) {
        buffer[0] = 0;
        appendText(buffer, capacity, path);
    }
    LocalFree(arguments.items);
    return path && capacity > 0;
}

bool recoverLaunchFolder(wchar_t* buffer, uint32_t capacity)
{
    wchar_t started[PATH_BUFFER + 1];
    if (!recoverLaunchPath(started, PATH_BUFFER + 1))
        return false;
    wchar_t* cut = nullptr;
    for (wchar_t* p = started; *p; p++)
        if (*p == L'\\')
            cut = p;
    if (!cut)
        return false;
    *cut = 0;
    if (capacity == 0 || textLength(started) >= capacity)
        return false;
    copyText(buffer, capacity, started);
    return true;
}
