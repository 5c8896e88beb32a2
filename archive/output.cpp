// Output paths, folders, the overwrite rule, output files and their time stamps.
//
// Every path made here uses '\'. An entry name is joined to the target folder only when the name rule
// (path_rules.h) accepts it, so nothing is created outside the target folder.
//
// Links. Below the target folder nothing is written through a junction or a symbolic link: a folder of the
// tree or the output file that is one refuses the entry with the "cannot create" message, and the run
// stops as for a refused name. The target folder itself and what lies above it may be links (the user
// chose them). Otherwise whoever may write in the target folder could send the output anywhere, such as an
// installer run with administrator rights into a folder other users can write. Each folder below the
// target is looked at once per run (not per entry) and then held open, without FILE_SHARE_DELETE, for as
// long as entries go into it, so that it cannot be renamed away and replaced by a link once looked at.
// What the systems show: Windows lists a link with FILE_ATTRIBUTE_REPARSE_POINT and opens the link itself
// when asked to (FILE_FLAG_OPEN_REPARSE_POINT). Wine 8 makes no links of its own (CreateSymbolicLinkW
// reports success and makes nothing; FSCTL_SET_REPARSE_POINT is not supported), and of a Unix symbolic
// link it lists one to a folder with that attribute but one to a file as a plain file, and opens the
// target whatever the flags. Such a link to a file is replaced like a file (see below): the move takes its
// name and leaves its target alone.
//
// Replacing. A file that an entry replaces stays as it is until the entry has checked out: the entry is
// written to a temporary file beside it (temporaryPathBeside), which then takes its name, renamed through
// a handle of its own (MoveFileExW where the system does not take the rename that way), so that what is
// put in place is the file that was written. A failure or a stop removes the temporary file, again
// through that handle. The temporary file is made with the old
// file's attributes (hidden, system, archive); it gets the access rights the folder passes on, and the
// installer's ownership, not those of the old file, which in a folder others can write may be theirs.
// ReplaceFileW, which would keep them, is not used: Wine's moves the old file aside to a name of its own
// and deletes it there, which for a Unix symbolic link deletes the link's target, and it leaves that name
// behind when the old file is in use. Where the move is refused (a program holds the old file open, or
// the user may write it but not remove it), the checked data is copied into the old file as before,
// through a handle checked to be that file itself.
#include "output.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>

#include "../launch/relaunch.h"
#include "../startup/messages.h"
#include "../startup/run_log.h"
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
//   made or found in this run, and those below the target folder were checked and are held open (see
//   Links above). Archives hold their entries folder by folder, so most entries start below it. Compared
//   letter for letter: a name that differs only in case is looked up (and held) again, which is safe.
static wchar_t validDrive;
static wchar_t targetBaseText[WORK_PATH_UNITS];
static bool targetBaseMade;
static wchar_t knownFolder[ENTRY_PATH_UNITS];
static uint32_t knownFolderLength;

enum : uint32_t {
    HELD_FOLDERS_MAX = OUTPUT_PATH_MAX / 2 + 1, // each folder of a path takes a character and a separator
    TEMPORARY_ATTEMPTS = 64,                    // temporary names tried for one entry
};

// What a replaced file's temporary twin takes over from it (a read-only one is refused).
enum : DWORD {
    CARRIED_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
                         | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED,
};

// The folders of knownFolder below the target folder, held open in order from the top; heldEnds: the index
// of the separator after each in the output path. targetBaseLength: where the folders below the target
// begin in an output path.
static HANDLE heldFolders[HELD_FOLDERS_MAX];
static uint32_t heldEnds[HELD_FOLDERS_MAX];
static uint32_t heldCount;
static uint32_t targetBaseLength;

// The temporary file of the entry at hand when it replaces a file: its path (empty when the entry is written
// in place), and the count that makes temporary names differ. While outputFile is open, its handle is the
// temporary file's, which may rename and remove it (others may not).
static wchar_t temporaryPath[OUTPUT_PATH_MAX + 1];
static uint32_t temporaryCount;

static bool targetBase(wchar_t* base);

void beginOutputRun()
{
    validDrive = 0;
    knownFolderLength = 0;
    targetBaseMade = targetBase(targetBaseText);
    targetBaseLength = textLength(targetBaseText);
    temporaryPath[0] = 0;
}

// Lets go of the held folders that do not lie within the first length characters of the output path.
static void releaseFoldersFrom(uint32_t length)
{
    while (heldCount > 0 && heldEnds[heldCount - 1] >= length)
        CloseHandle(heldFolders[--heldCount]);
}

static void closeDescriptor()
{
    _close(outputFile);
    outputFile = -1;
}

// A temporary file stays open: it is renamed into place, or removed, through its own handle.
void closeOutputFile()
{
    if (!temporaryPath[0])
        closeDescriptor();
}

// Marks the open outputFile to be removed when it is closed; false when the system refuses.
static bool markOutputForRemoval()
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle((HANDLE)_get_osfhandle(outputFile), FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// Removes the temporary file of the entry at hand, if there is one: through its handle while it is open
// (it goes when the handle is closed), else by its name. Closes outputFile.
static void dropTemporaryFile()
{
    bool marked = temporaryPath[0] && outputFile != -1 && markOutputForRemoval();
    if (outputFile != -1)
        closeDescriptor();
    if (temporaryPath[0] && !marked)
        DeleteFileW(temporaryPath);
    temporaryPath[0] = 0;
}

// A file made new for the entry at hand, which a cancel stopped in the middle: removed through its handle
// (it goes when the handle is closed), else by its name.
static void dropNewFile()
{
    if (outputFile == -1 || temporaryPath[0])
        return;
    bool marked = markOutputForRemoval();
    closeDescriptor();
    if (!marked)
        DeleteFileW(entryPath);
}

void endOutputRun(bool dropEntry)
{
    if (dropEntry)
        dropNewFile();
    dropTemporaryFile();
    releaseFoldersFrom(0);
    knownFolderLength = 0;
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
    logEvent(L"refused", what);
    showStatusNow();
    fatalMessage(id, formatMessageText(__LINE__, loadText(id), what));
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

// A junction, a symbolic link or another reparse point.
static bool isLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The attributes of what a handle has open, INVALID_FILE_ATTRIBUTES when the system does not say.
// GetFileInformationByHandle would say too, but asks for the volume's serial number as well, which Wine
// looks up in the mount table at every call (about 1 ms).
static DWORD openedAttributes(HANDLE file)
{
    FILE_ATTRIBUTE_TAG_INFO opened;
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &opened, sizeof opened))
        return INVALID_FILE_ATTRIBUTES;
    return opened.FileAttributes;
}

// The folder entryPath (cut after it), just made or listed with the attributes listed, below the target
// folder: refused when it is a link or no folder, else held open. Its separator is at index end.
static void holdFolder(DWORD listed, uint32_t end)
{
    if (isLink(listed))
        cannotCreate(IDS_CANNOT_CREATE_FOLDER, entryPath);
    // Opened itself, not what a link leads to; it may be listed and written in, but not renamed or removed.
    HANDLE folder = CreateFileW(entryPath, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        cannotCreate(IDS_CANNOT_CREATE_FOLDER, entryPath);
    DWORD opened = openedAttributes(folder);
    bool plainFolder = opened != INVALID_FILE_ATTRIBUTES && (opened & FILE_ATTRIBUTE_DIRECTORY) && !isLink(opened);
    if (!plainFolder || heldCount >= HELD_FOLDERS_MAX) {
        CloseHandle(folder);
        cannotCreate(IDS_CANNOT_CREATE_FOLDER, entryPath);
    }
    heldFolders[heldCount] = folder;
    heldEnds[heldCount++] = end;
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
    // What stays known is also what stays held; the rest is looked at again below.
    knownFolderLength = known;
    releaseFoldersFrom(known);
    for (wchar_t* p = entryPath + (known > start ? known : start); p < end; p++) {
        while (p < end && !isSeparator(*p))
            p++;
        if (p >= end)
            break;
        *p = 0;
        bool isDrive = entryPath[0] && entryPath[1] == L':' && entryPath[2] == 0;
        if (!isDrive) {
            DWORD listed = GetFileAttributesW(entryPath);
            if (listed == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(entryPath, nullptr))
                cannotCreate(IDS_CANNOT_CREATE_FOLDER, entryPath);
            uint32_t at = (uint32_t)(p - entryPath);
            if (at >= targetBaseLength)
                holdFolder(listed, at);
        }
        *p = L'\\';
    }
    knownFolderLength = (uint32_t)(end - entryPath);
    memcpy(knownFolder, entryPath, knownFolderLength * sizeof(wchar_t));
}

bool confirmOverwrite()
{
    showStatusNow();
    formatMessageText(__LINE__, loadText(IDS_OVERWRITE), entryPath);
    switch (showMessage(IDS_OVERWRITE, messageText, MB_YESNOCANCEL)) {
    case IDYES:
        return true;
    case IDNO:
        return false;
    default:
        longjmp(unwindPoint, 1);
    }
}

// Makes the file path (entryPath or its temporary twin) with the given access and attributes, shared
// for reading and writing as the C runtime's read-write open did; INVALID_HANDLE_VALUE with the system's
// error when no file was made. CREATE_NEW makes nothing where any name is, a link included.
static HANDLE makeFile(const wchar_t* path, DWORD access, DWORD attributes)
{
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW, attributes, nullptr);
}

// Makes the file just made outputFile; a failure closes it and stops the run.
static void takeAsOutput(HANDLE file)
{
    outputFile = _open_osfhandle((intptr_t)file, _O_BINARY);
    if (outputFile < 0) {
        outputFile = -1;
        CloseHandle(file);
        cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
    }
}

bool createNewOutputFile()
{
    HANDLE file = makeFile(entryPath, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_ATTRIBUTE_NORMAL);
    if (file != INVALID_HANDLE_VALUE) {
        takeAsOutput(file);
        return true;
    }
    DWORD error = GetLastError();
    // Whatever else stopped it, a name that is there is asked about, as a file that cannot be made is not.
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || pathExists(entryPath))
        return false;
    cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
}

// A file that may be replaced: no folder, no link, and not read-only (which the system refuses to open for
// writing, as it refused before; Wine run as root would not).
static bool mayBeReplaced(DWORD attributes)
{
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Makes the temporary twin of entryPath in outputFile, with the attributes given. At most
// TEMPORARY_ATTEMPTS names are tried; only a name that is taken moves on to the next.
static void openTemporaryTwin(DWORD attributes)
{
    for (uint32_t attempt = 0; attempt < TEMPORARY_ATTEMPTS; attempt++) {
        temporaryPathBeside(entryPath, GetCurrentProcessId(), temporaryCount++, temporaryPath);
        HANDLE file = makeFile(temporaryPath, GENERIC_READ | GENERIC_WRITE | DELETE,
                               attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
        if (file != INVALID_HANDLE_VALUE) {
            takeAsOutput(file);
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    // The name in temporaryPath is not this run's file: it must not be removed.
    temporaryPath[0] = 0;
    cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
}

void createOutputFile()
{
    if (createNewOutputFile())
        return;
    // A name that has gone since (or, under Wine, a link to nothing) leaves nothing to keep.
    DWORD existing = GetFileAttributesW(entryPath);
    if (existing != INVALID_FILE_ATTRIBUTES && !mayBeReplaced(existing))
        cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
    openTemporaryTwin(existing == INVALID_FILE_ATTRIBUTES ? 0 : existing & CARRIED_ATTRIBUTES);
}

static void stampFileTime(HANDLE file)
{
    uint16_t date = localHeader.date, time = localHeader.time;
    clampDosDateTime(&date, &time);
    FILETIME local, universal;
    DosDateTimeToFileTime(date, time, &local);
    LocalFileTimeToFileTime(&local, &universal);
    SetFileTime(file, &universal, &universal, &universal);
}

void setOutputFileTime()
{
    stampFileTime((HANDLE)_get_osfhandle(outputFile));
}

// The final path of an open file as the system resolves it, and the length of its folder part; false when
// it does not fit.
static bool resolvedPath(HANDLE file, wchar_t* path, uint32_t* folderLength)
{
    DWORD n = GetFinalPathNameByHandleW(file, path, WORK_PATH_UNITS, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= WORK_PATH_UNITS)
        return false;
    *folderLength = (uint32_t)(fileNamePart(path) - path);
    return true;
}

// Whether the open file old is the very file entryPath names, beside the temporary file twin: one that may
// be replaced, resolved into the twin's folder under the name in entryPath. Wine, which opens what a link
// leads to, resolves a link to its target's path.
static bool isFileItself(HANDLE old, HANDLE twin)
{
    DWORD opened = openedAttributes(old);
    if (opened == INVALID_FILE_ATTRIBUTES || !mayBeReplaced(opened))
        return false;
    wchar_t oldPath[WORK_PATH_UNITS], twinPath[WORK_PATH_UNITS];
    uint32_t oldFolder, twinFolder;
    if (!resolvedPath(old, oldPath, &oldFolder) || !resolvedPath(twin, twinPath, &twinFolder))
        return false;
    return oldFolder == twinFolder
           && CompareStringOrdinal(oldPath, (int)oldFolder, twinPath, (int)twinFolder, TRUE) == CSTR_EQUAL
           && CompareStringOrdinal(oldPath + oldFolder, -1, fileNamePart(entryPath), -1, TRUE) == CSTR_EQUAL;
}

// Copies the temporary file into the old one from its start and cuts it there; false on any failure. The
// temporary file holds at most the entry's declared size, so the loop ends within that many pieces.
static bool copyContent(HANDLE from, HANDLE to)
{
    uint32_t pieces = localHeader.uncompressedSize / INPUT_PIECE_BYTES + 2;
    for (uint32_t piece = 0; piece < pieces; piece++) {
        DWORD got = 0, put = 0;
        if (!ReadFile(from, inputBuffer, INPUT_PIECE_BYTES, &got, nullptr))
            return false;
        if (got == 0)
            return SetEndOfFile(to) != 0;
        if (!WriteFile(to, inputBuffer, got, &put, nullptr) || put != got)
            return false;
    }
    return false;
}

// The move was refused: the old file's content is overwritten with the checked data instead (the input
// buffer is free once an entry has been read). A failure to write is reported like any write error; the
// old file is then partly overwritten, as a file written in place was before. The temporary file (closed
// by now) goes either way, by endOutputRun after a stop.
static void copyIntoPlace()
{
    HANDLE from = CreateFileW(temporaryPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    HANDLE to = CreateFileW(entryPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool itself = from != INVALID_HANDLE_VALUE && to != INVALID_HANDLE_VALUE && isFileItself(to, from);
    bool copied = itself && copyContent(from, to);
    if (copied)
        stampFileTime(to);
    if (from != INVALID_HANDLE_VALUE)
        CloseHandle(from);
    if (to != INVALID_HANDLE_VALUE)
        CloseHandle(to);
    if (!itself)
        cannotCreate(IDS_CANNOT_CREATE_OUTPUT, entryPath);
    if (!copied) {
        showStatusNow();
        fatalMessage(IDS_WRITE_ERROR, formatMessageText(__LINE__, loadText(IDS_WRITE_ERROR), entryPath));
    }
    dropTemporaryFile();
}

// Renames the temporary file through its handle to entryPath, replacing the file there. False where the
// system does not take the path this way (Wine takes a full path, not a name alone); the caller then
// moves the file by its name.
static bool renameTemporaryFile()
{
    static union {
        FILE_RENAME_INFO info;
        uint8_t bytes[sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * OUTPUT_PATH_MAX];
    } request;
    uint32_t length = textLength(entryPath);
    ZeroMemory(&request, sizeof request);
    request.info.ReplaceIfExists = TRUE;
    request.info.FileNameLength = length * sizeof(wchar_t);
    memcpy(request.info.FileName, entryPath, (length + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle((HANDLE)_get_osfhandle(outputFile), FileRenameInfo, &request, sizeof request)
           != 0;
}

void putOutputInPlace()
{
    if (!temporaryPath[0])
        return;
    // The move by name opens the file for removal, which its own handle does not share: closed first.
    bool renamed = renameTemporaryFile();
    closeDescriptor();
    if (renamed || MoveFileExW(temporaryPath, entryPath, MOVEFILE_REPLACE_EXISTING))
        temporaryPath[0] = 0;
    else
        copyIntoPlace();
}
