// Output paths, folders, the overwrite rule, output files and their time stamps.
//
// Every path made here uses '\'. An entry name is joined to the target folder only when the name rule
// (path_rules.h) accepts it, so nothing is created outside the target folder.
#include "output.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include "../launch/relaunch.h"
#include "../startup/messages.h"
#include "../startup/payload.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "../ui/meter.h"
#include "path_rules.h"
#include "progress.h"
#include "walk.h"

// A file or a folder of that name. GetFileAttributesW answers this without a directory search, which
// under Wine costs some seventy times as much; names with wildcards never get here.
bool pathExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The drive letter found valid in this run; every entry of a run lies on the same drive, so the system
// is asked once per run and letter.
static wchar_t validDrive;

void beginOutputRun()
{
    validDrive = 0;
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
    wchar_t base[WORK_PATH_UNITS];
    wchar_t joined[OUTPUT_PATH_MAX + 1];
    if (!targetBase(base) || !joinOutputPath(base, entryPath, joined))
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
    for (wchar_t* p = entryPath + folderScanStart(entryPath); p < end; p++) {
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
}

bool confirmOverwrite()
{
    if (overwriteWithoutAsking || !pathExists(entryPath))
        return true;
    if (meterVisible) {
        SendDlgItemMessageW(mainDialogWindow, METER_CONTROL, METER_SETPOS,
                            (WPARAM)(meterPosition(bytesDone, parameterBlock.totalSize) & 0xFFFF), 0);
        UpdateWindow(mainDialogWindow);
    }
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

void createOutputFile()
{
    outputFile = _wsopen(entryPath, _O_RDWR | _O_BINARY | _O_CREAT | _O_TRUNC, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (outputFile < 0) {
        outputFile = -1;
        cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
    }
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
