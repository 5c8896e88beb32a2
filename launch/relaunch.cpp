// The private relaunch.
//
// The copy is told apart by the argument "-run=1"; "-shortcut=" carries the path of the started file,
// quoted on the command line so that the system's splitter keeps blanks in it. Both are appended to the
// user's arguments, after closing a quote the user left open ("%~dp0" ends in a backslash, which makes
// its closing quote a literal one); the result is split by the system before the copy starts, and a copy
// that would not recognise itself is never started. The copy's exit code becomes the started process's.
// The private folder is named by a tick count in hexadecimal, counted up while the name is taken.
// The started process loads no library of the user interface (the program loads them at the first call):
// it calls kernel32 and advapi32 only, and takes the splitter from shcore where that exists.
#include "relaunch.h"

#include <windows.h>
#include <shellapi.h>

#include "../archive/path_rules.h"
#include "../startup/messages.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "relaunch_rules.h"

enum : uint32_t { PATH_BUFFER = 260, LONG_TEMP_BUFFER = 520 };

// Tick counts are tried upward; a temporary folder with this many taken names in a row is hopeless.
enum : uint32_t { MAX_FOLDER_ATTEMPTS = 65536 };

struct ArgumentList {
    wchar_t** items;
    int count;
};

// The system folder's library name, loaded by its full path with flags; null when it cannot be.
static HMODULE loadSystemLibrary(const wchar_t* name, DWORD flags)
{
    wchar_t path[PATH_BUFFER];
    UINT n = GetSystemDirectoryW(path, PATH_BUFFER);
    if (n == 0 || n >= PATH_BUFFER || !appendSeparator(path, PATH_BUFFER) || !appendText(path, PATH_BUFFER, name))
        return nullptr;
    return LoadLibraryExW(path, nullptr, flags);
}

// The system's splitter (CommandLineToArgvW). shcore.dll exports it too where it exists (Wine's shell32
// hands the call on to it); taken from there it spares the started process shell32, which loads user32
// and gdi32, 30 ms and more under Wine.
typedef LPWSTR*(WINAPI* SplitterCall)(LPCWSTR, int*);

static SplitterCall systemSplitter()
{
    static SplitterCall splitter;
    if (splitter)
        return splitter;
    HMODULE shcore = loadSystemLibrary(L"shcore.dll", 0);
    splitter = shcore ? (SplitterCall)(void*)GetProcAddress(shcore, "CommandLineToArgvW") : nullptr;
    if (!splitter)
        splitter = CommandLineToArgvW;
    return splitter;
}

static ArgumentList splitCommandLine()
{
    ArgumentList list = {nullptr, 0};
    list.items = systemSplitter()(GetCommandLineW(), &list.count);
    if (!list.items)
        list.count = 0;
    return list;
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
    if (!appendSeparator(shortForm, PATH_BUFFER))
        return false;
    wchar_t longForm[LONG_TEMP_BUFFER];
    DWORD m = GetLongPathNameW(shortForm, longForm, LONG_TEMP_BUFFER);
    if (m == 0 || m >= PATH_BUFFER)
        copyText(folder, PATH_BUFFER, shortForm);
    else
        copyText(folder, PATH_BUFFER, longForm);
    return true;
}

// folder, a backslash unless it ends in one, and name; false when it does not fit.
static bool joinPath(wchar_t* out, uint32_t capacity, const wchar_t* folder, const wchar_t* name)
{
    return copyText(out, capacity, folder) && appendSeparator(out, capacity) && appendText(out, capacity, name);
}

// ---- The private folder's access list ----

struct PrivateSecurity {
    SECURITY_DESCRIPTOR descriptor;
    // Three allowed entries whose SIDs have the longest form; an access list is DWORD-aligned.
    DWORD acl[(sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)) / sizeof(DWORD) + 1];
};

// Full access for the user this process runs as, for SYSTEM and for the Administrators group, and for no
// one else: protected from the entries of the temporary folder (which may let other users in) and passed
// on to every file and folder made inside. Nothing is allocated.
static bool makePrivateSecurity(PrivateSecurity* security)
{
    union {
        TOKEN_USER token;
        BYTE room[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } user;
    DWORD system[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
    DWORD administrators[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    BOOL knownUser = GetTokenInformation(token, TokenUser, &user, sizeof user, &size);
    CloseHandle(token);
    DWORD systemSize = sizeof system, administratorsSize = sizeof administrators;
    if (!knownUser || !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize)
        || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize))
        return false;
    PSID sids[3] = {user.token.User.Sid, system, administrators};
    ACL* acl = (ACL*)security->acl;
    if (!InitializeAcl(acl, sizeof security->acl, ACL_REVISION))
        return false;
    for (int i = 0; i < 3; i++)
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                                   sids[i]))
            return false;
    return InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION)
           && SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE)
           && SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// ---- Removing the private folder ----
//
// Every entry is opened and looked at first, then removed through a second handle to the same entry
// (ReOpenFile), so that what is removed is what was looked at. A link (a symbolic link or a junction) is
// removed by itself and never entered. Windows opens a link itself when asked to
// (FILE_FLAG_OPEN_REPARSE_POINT) and lists it with FILE_ATTRIBUTE_REPARSE_POINT. Wine 8 does neither for
// a Unix symbolic link: it opens the target whatever the flags, so that any removal would remove the
// target, and it lists a link to a folder with that attribute but a link to a file as a plain file. An
// entry whose handle resolves to another path than its own is therefore left alone, and so is its target;
// the folder that holds it then stays too.

// Folders deeper down are left as they are: the private folder holds the copy and what it makes.
enum : uint32_t { MAX_TREE_DEPTH = 32 };

enum : DWORD {
    SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
    OPEN_ENTRY_ITSELF = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
};

// A handle to look at an entry with. It may not delete: Wine lists a folder only while no handle that may
// delete the folder is open.
static HANDLE openEntry(const wchar_t* path)
{
    return CreateFileW(path, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, OPEN_ENTRY_ITSELF, nullptr);
}

static DWORD attributesOf(HANDLE entry)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(entry, &information) ? information.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// The opened entry's path as the system resolved it ("\\?\" form); false when it does not fit.
static bool resolvedPath(HANDLE entry, wchar_t* path)
{
    DWORD n = GetFinalPathNameByHandleW(entry, path, LONG_TEMP_BUFFER, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return n > 0 && n < LONG_TEMP_BUFFER;
}

// Whether the opened entry resolves to folder\name, folder being its folder's resolved path.
static bool opensItself(HANDLE entry, const wchar_t* folder, const wchar_t* name)
{
    wchar_t path[LONG_TEMP_BUFFER];
    if (!resolvedPath(entry, path))
        return false;
    uint32_t n = textLength(folder);
    if (n == 0 || textLength(path) <= n || CompareStringOrdinal(path, (int)n, folder, (int)n, TRUE) != CSTR_EQUAL)
        return false;
    const wchar_t* rest = path + n;
    if (folder[n - 1] != L'\\' && *rest++ != L'\\')
        return false;
    return CompareStringOrdinal(rest, -1, name, -1, TRUE) == CSTR_EQUAL;
}

// Marks the opened entry for deletion when its handles close, through a second handle to the same entry;
// a read-only one is made writable first.
static bool markForDeletion(HANDLE entry, DWORD attributes)
{
    HANDLE removal = ReOpenFile(entry, DELETE | FILE_WRITE_ATTRIBUTES, SHARE_ALL, OPEN_ENTRY_ITSELF);
    if (removal == INVALID_HANDLE_VALUE)
        return false;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic;
        ZeroMemory(&basic, sizeof basic); // times of zero are left as they are
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(removal, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    bool marked = SetFileInformationByHandle(removal, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    CloseHandle(removal);
    return marked;
}

static bool removeOpenedEntry(const wchar_t* path, HANDLE entry, DWORD listed, uint32_t depth);

// Removes what the opened folder at path holds; false when anything stays.
static bool emptyFolder(const wchar_t* path, HANDLE folder, uint32_t depth)
{
    wchar_t resolved[LONG_TEMP_BUFFER];
    wchar_t pattern[PATH_BUFFER];
    if (depth >= MAX_TREE_DEPTH || !resolvedPath(folder, resolved) || !joinPath(pattern, PATH_BUFFER, path, L"*"))
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool emptied = true;
    do {
        if (lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0)
            continue;
        wchar_t child[PATH_BUFFER];
        HANDLE entry = joinPath(child, PATH_BUFFER, path, found.cFileName) ? openEntry(child) : INVALID_HANDLE_VALUE;
        if (entry == INVALID_HANDLE_VALUE) {
            emptied = false;
            continue;
        }
        if (!opensItself(entry, resolved, found.cFileName)
            || !removeOpenedEntry(child, entry, found.dwFileAttributes, depth + 1))
            emptied = false;
        CloseHandle(entry);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return emptied;
}

// listed: the attributes the folder listing reported (Wine marks a link to a folder only there).
static bool removeOpenedEntry(const wchar_t* path, HANDLE entry, DWORD listed, uint32_t depth)
{
    DWORD attributes = attributesOf(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    bool link = ((attributes | listed) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (link && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false; // the handle is the link's target
    if (!link && (attributes & FILE_ATTRIBUTE_DIRECTORY) && !emptyFolder(path, entry, depth))
        return false;
    return markForDeletion(entry, attributes);
}

bool makeUniqueFolder(wchar_t* folder)
{
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES)
        return false;
    // A folder that others may enter is no private folder: without its access list none is made.
    PrivateSecurity security;
    if (!makePrivateSecurity(&security))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &security.descriptor, FALSE};
    // Made, not looked for first: two programs started in the same tick try the same name, and the one
    // whose CreateDirectoryW finds it made goes on to the next. Only a folder this process made itself
    // may be used (and later deleted).
    uint32_t n = GetTickCount();
    wchar_t candidate[PATH_BUFFER];
    for (uint32_t attempt = 0;; attempt++, n++) {
        if (attempt == MAX_FOLDER_ATTEMPTS)
            return false;
        wchar_t name[9];
        folderNameFor(n, name);
        if (!joinPath(candidate, PATH_BUFFER, folder, name) || !appendSeparator(candidate, PATH_BUFFER))
            return false;
        if (CreateDirectoryW(candidate, &attributes))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    copyText(folder, PATH_BUFFER, candidate);
    return true;
}

bool deleteFolderTree(const wchar_t* folder)
{
    HANDLE entry = openEntry(folder);
    if (entry == INVALID_HANDLE_VALUE)
        return false;
    DWORD listed = GetFileAttributesW(folder);
    bool removed = removeOpenedEntry(folder, entry, listed == INVALID_FILE_ATTRIBUTES ? 0 : listed, 0);
    CloseHandle(entry); // the last handle: the removal happens here
    return removed;
}

// True when the system's splitter finds in line the user's arguments (original, from its second element
// on) unchanged, then "-run=1" and "-shortcut=" with the started path: the copy will recognise itself
// and find the started file.
static bool copyRecognisesItself(const wchar_t* line, const ArgumentList* original, const wchar_t* startedPath)
{
    int count = 0;
    wchar_t** split = systemSplitter()(line, &count);
    if (!split)
        return false;
    bool same = original->count >= 1 && count == original->count + 2;
    for (int i = 1; same && i < original->count; i++)
        same = lstrcmpW(split[i], original->items[i]) == 0;
    if (same) {
        const wchar_t* shortcut = findShortcutArgument(split, count);
        same = isRunMarker(split[count - 2], true) && shortcut && shortcut == split[count - 1] + 10
               && lstrcmpW(shortcut, startedPath) == 0;
    }
    LocalFree(split);
    return same;
}

// The copy's command line: the user's arguments, with an open quote closed, and the two markers. The
// closing quote follows the splitter's rules as modelled; should the system's splitter disagree, the
// other form is tried. Null when neither lets the copy recognise itself (or no memory): no copy may run
// that would copy itself again. Free with LocalFree.
static wchar_t* makeCopyCommandLine(const wchar_t* startedPath, const ArgumentList* original)
{
    const wchar_t* commandLine = GetCommandLineW();
    wchar_t* line = (wchar_t*)LocalAlloc(LMEM_FIXED, copyCommandLineUnits(commandLine, startedPath) * sizeof(wchar_t));
    if (!line)
        return nullptr;
    bool closeQuote = argumentTail(commandLine + programNameEnd(commandLine)).insideQuote;
    for (int attempt = 0; attempt < 2; attempt++, closeQuote = !closeQuote) {
        buildCopyCommandLine(commandLine, startedPath, closeQuote, line);
        if (copyRecognisesItself(line, original, startedPath))
            return line;
    }
    LocalFree(line);
    return nullptr;
}

// Runs the copy and waits for it. False when it could not be started; else *exitCode is the copy's.
static bool runCopy(const wchar_t* copyPath, const wchar_t* folder, const wchar_t* startedPath,
                    const ArgumentList* arguments, UINT* exitCode)
{
    wchar_t* copyCommandLine = makeCopyCommandLine(startedPath, arguments);
    if (!copyCommandLine)
        return false;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    bool started = CreateProcessW(copyPath, copyCommandLine, nullptr, nullptr, FALSE, 0, nullptr, folder,
                                  &startup, &process) != 0;
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = OUTCOME_FAILED;
        GetExitCodeProcess(process.hProcess, &code);
        *exitCode = code;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    LocalFree(copyCommandLine);
    return started;
}

// The copy could not be made or started: the user is told, and the process ends with a failure.
static void reportNoCopy()
{
    startRunLog();
    messageBox(nullptr, IDS_NO_PRIVATE_COPY, loadText(IDS_NO_PRIVATE_COPY), loadText(IDS_CAPTION), MB_ICONERROR);
}

bool relaunchFromTemporaryCopy(UINT* exitCode)
{
    loadSystemLibrary(L"lpk.dll", LOAD_WITH_ALTERED_SEARCH_PATH); // the language pack; stays loaded
    if (redirectionPresent())
        ExitProcess(1);

    ArgumentList arguments = splitCommandLine();
    for (int i = 0; i < arguments.count; i++)
        if (isRunMarker(arguments.items[i], false)) {
            LocalFree(arguments.items);
            return true;
        }

    bool ran = false;
    wchar_t startedPath[PATH_BUFFER];
    DWORD n = GetModuleFileNameW(nullptr, startedPath, PATH_BUFFER);
    wchar_t folder[PATH_BUFFER];
    // Without a private folder of its own the process neither copies itself nor deletes anything.
    if (n > 0 && n < PATH_BUFFER && temporaryFolder(folder) && makeUniqueFolder(folder)) {
        wchar_t copyPath[PATH_BUFFER];
        if (joinPath(copyPath, PATH_BUFFER, folder, fileNamePart(startedPath))
            && CopyFileW(startedPath, copyPath, TRUE)) {
            // The copy takes the started file's attributes: a read-only one could not be removed.
            SetFileAttributesW(copyPath, FILE_ATTRIBUTE_NORMAL);
            ran = runCopy(copyPath, folder, startedPath, &arguments, exitCode);
        }
        deleteFolderTree(folder);
    }
    LocalFree(arguments.items);
    if (!ran) {
        reportNoCopy();
        *exitCode = OUTCOME_FAILED;
    }
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

wchar_t* userArguments()
{
    static wchar_t none[1];
    const wchar_t* line = GetCommandLineW();
    uint32_t start = 0, end = 0;
    userArgumentRange(line, &start, &end);
    wchar_t* copy = (wchar_t*)LocalAlloc(LMEM_FIXED, (end - start + 1) * sizeof(wchar_t));
    if (!copy)
        return none;
    CopyMemory(copy, line + start, (end - start) * sizeof(wchar_t));
    copy[end - start] = 0;
    return copy;
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
    // A file in a drive's root keeps the backslash: "C:" alone would name the current folder of drive C.
    cut[cut == started + 2 && started[1] == L':' ? 1 : 0] = 0;
    if (capacity == 0 || textLength(started) >= capacity)
        return false;
    copyText(buffer, capacity, started);
    return true;
}

bool resolveTargetFolder(wchar_t* folder, uint32_t capacity)
{
    if (!isRelativeFolder(folder))
        return true;
    // In a private copy the current folder is the copy's; the started file's folder is wanted, which is
    // this program's own folder elsewhere.
    wchar_t base[PATH_BUFFER + 1];
    if (!recoverLaunchFolder(base, PATH_BUFFER + 1)) {
        DWORD n = GetModuleFileNameW(nullptr, base, PATH_BUFFER + 1);
        if (n == 0 || n > PATH_BUFFER)
            return false;
        wchar_t* name = (wchar_t*)fileNamePart(base);
        if (name == base)
            return false;
        // A file in a drive's root keeps the backslash, as in recoverLaunchFolder.
        *(name - base == 3 && base[1] == L':' ? name : name - 1) = 0;
    }
    return resolveRelativeFolder(base, folder, folder, capacity);
}
