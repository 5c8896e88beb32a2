// Output paths, folders, the overwrite rule, output files and their time stamps.
//
// Every path made here uses '\'. An entry name is joined to the target folder only when the name rule
// (path_rules.h) accepts it, so nothing is created outside the target folder.
#include "output.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>

#include "../launch/relaunch.h"
#include "../startup/messages.h"
#include "../startup/payload.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "path_rules.h"
#include "progress.h"
#include "walk.h"

// A file or a folder of that name. GetFileAttributesW answers this without a directory search, which
// under Wine costs some seventy times as much; names with wildcards never get here.
bool pathExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// What a run learns once instead of for every entry. Under Wine each question to the file system is a
// walk along the path, dearer than writing a small file's bytes.
// - The drive letter found valid: every entry of a run lies on the same drive.
// - The target folder with its separator (a relative one resolved); targetBaseMade: it could be made.
// - The folder of the last file or folder entry, with its separator: it and every folder above it were
//   made or found in this run. Archives hold their entries folder by folder, so most entries start below
//   it. Compared letter for letter: a name that differs only in case is looked up again, which is safe.
static wchar_t validDrive;
static wchar_t targetBaseText[WORK_PATH_UNITS];
static bool targetBaseMade;
static wchar_t knownFolder[ENTRY_PATH_UNITS];
static uint32_t knownFolderLength;

static bool targetBase(wchar_t* base);

void beginOutputRun()
{
    validDrive = 0;
    knownFolderLength = 0;
    targetBaseMade = targetBase(targetBaseText);
}

static bool isDriveValid(const wchar_t* path)
{
    if (path[0] == validDrive)
        return true;
    wchar_t root[4] = {path[0], L':', L'\\', 0};
    if (GetDriveTypeW(root) <= DRIVE_NO_ROOT_DIR)
        return false;
    validDrive = path[0];
    return true;
}

[[noreturn]] static void cannotCreate(int id, const wchar_t* what)
{
    showStatusNow();
    fatalMessage(formatMessageText(__LINE__, loadText(id), what));
}

// The target folder with a separator, a relative one resolved against the started file's folder: the
// current folder is the private copy's, which is removed after the run. False when the result does not
// fit a working path (no output path could be made from it).
static bool targetBase(wchar_t* base)
{
    base[0] = 0;
    if (!targetFolder[0])
        return true;
    copyText(base, WORK_PATH_UNITS, targetFolder);
    return resolveTargetFolder(base, WORK_PATH_UNITS) && appendSeparator(base, WORK_PATH_UNITS);
}

static void joinEntry(int refusal)
{
    if (!entryNameIsSafe(entryPath))
        cannotCreate(IDS_CANNOT_CREATE_FOLDER, entryPath);
    wchar_t joined[OUTPUT_PATH_MAX + 1];
    if (!targetBaseMade || !joinOutputPath(targetBaseText, entryPath, joined))
        cannotCreate(refusal, entryPath);
    copyText(entryPath, ENTRY_PATH_UNITS, joined);
}

void buildOutputPath()
{
    joinEntry(IDS_CANNOT_CREATE_OUTPUT);
}

void createFolders()
{
    uint32_t length = textLength(entryPath);
    bool folderEntry = length > 0 && isSeparator(entryPath[length - 1]);
    if (folderEntry)
        joinEntry(IDS_CANNOT_CREATE_FOLDER);
    if (entryPath[0] && entryPath[1] == L':' && !isDriveValid(entryPath)) {
        wchar_t letter[2] = {entryPath[0], 0};
        cannotCreate(IDS_INVALID_DRIVE, letter);
    }
    wchar_t* end = (wchar_t*)fileNamePart(entryPath);
    uint32_t start = folderScanStart(entryPath);
    uint32_t known = knownFolderPrefix(entryPath, (uint32_t)(end - entryPath), knownFolder, knownFolderLength);
    for (wchar_t* p = entryPath + (known > start ? known : start); p < end; p++) {
        while (p < end && !isSeparator(*p))
            p++;
        if (p >= end)
            break;
        *p = 0;
        bool isDrive = entryPath[0] && entryPath[1] == L':' && entryPath[2] == 0;
        if (!isDrive && !pathExists(entryPath) && !CreateDirectoryW(entryPath, nullptr))
            cannotCreate(IDS_CANNOT_CREATE_FOLDER, entryPath);
        *p = L'\\';
    }
    knownFolderLength = (uint32_t)(end - entryPath);
    memcpy(knownFolder, entryPath, knownFolderLength * sizeof(wchar_t));
}

bool confirmOverwrite()
{
    showStatusNow();
    formatMessageText(__LINE__, loadText(IDS_OVERWRITE), entryPath);
    switch (showMessage(messageText, MB_YESNOCANCEL)) {
    case IDYES:
        return true;
    case IDNO:
        return false;
    default:
        longjmp(unwindPoint, 1);
    }
}

// Opens entryPath for writing with the given disposition (access and sharing as the C runtime's
// read-write open gave them); the descriptor, or -1 with the system's error when no file was opened.
static int openOutput(DWORD disposition)
{
    HANDLE file = CreateFileW(entryPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    int descriptor = _open_osfhandle((intptr_t)file, _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(file);
        cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
    }
    return descriptor;
}

bool createNewOutputFile()
{
    outputFile = openOutput(CREATE_NEW);
    if (outputFile != -1)
        return true;
    DWORD error = GetLastError();
    // Whatever else stopped it, a name that is there is asked about, as a file that cannot be made is not.
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || pathExists(entryPath))
        return false;
    cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
}

void createOutputFile()
{
    outputFile = openOutput(CREATE_ALWAYS);
    if (outputFile == -1)
        cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
}

void setOutputFileTime()
{
    uint16_t date = localHeader.date, time = localHeader.time;
    clampDosDateTime(&date, &time);
    FILETIME local, universal;
    DosDateTimeToFileTime(date, time, &local);
    LocalFileTimeToFileTime(&local, &universal);
    SetFileTime((HANDLE)_get_osfhandle(outputFile), &universal, &universal, &universal);
}
