// Volumes of a spanned set: every disk goes into the drive the program was started from; its label says
// which disk it is, and it holds one volume file named like the started file with .EXE or .ZIP.
#include "volumes.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>

#include "../launch/relaunch.h"
#include "../startup/messages.h"
#include "../startup/payload.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "progress.h"
#include "volume_rules.h"

uint16_t currentDisk = 1;

int readArchive(void* buffer, uint32_t n)
{
    return _read(archiveFile, buffer, n);
}

long seekArchive(long offset, int origin)
{
    return _lseek(archiveFile, offset, origin);
}

uint16_t readVolumeNumber(const wchar_t* root)
{
    if (textLength(root) >= 8)
        internalError(SFX_MODULE_NAME, 935);
    wchar_t label[32];
    if (!GetVolumeInformationW(root, label, 32, nullptr, nullptr, nullptr, nullptr, 0))
        return NOT_A_SET_LABEL;
    label[31] = 0;
    return parseVolumeLabel(label);
}

void switchVolume(uint16_t disk, bool exeNamed)
{
    if (archiveFile != -1) {
        _close(archiveFile);
        archiveFile = -1;
    }
    wchar_t setPath[PATH_UNITS];
    if (!recoverLaunchPath(setPath, PATH_UNITS))
        copyText(setPath, PATH_UNITS, programPath);
    wchar_t drive[3] = {setPath[0], L':', 0};
    wchar_t root[4] = {setPath[0], L':', L'\\', 0};

    uint16_t n = readVolumeNumber(root);
    if (n != disk)
        showStatusNow();
    for (;;) {
        while (n == NOT_A_SET_LABEL) {
            formatMessageText(1029, loadText(IDS_WRONG_DISK), (int)disk);
            int answer = showMessage(IDS_WRONG_DISK, messageText, MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
            if (answer == IDABORT)
                abortRun();
            if (answer == IDIGNORE) {
                n = disk;
                break;
            }
            n = readVolumeNumber(root);
        }
        currentDisk = n;
        if (n == disk)
            break;
        int prompt = disk == 0 ? IDS_INSERT_LAST_DISK : IDS_INSERT_DISK;
        if (disk == 0)
            formatMessageText(1051, loadText(prompt), drive);
        else
            formatMessageText(1051, loadText(prompt), (int)disk, drive);
        if (showMessage(prompt, messageText, MB_OKCANCEL) != IDOK)
            abortRun();
        n = readVolumeNumber(root);
    }

    wchar_t volume[PATH_UNITS];
    if (textLength(setPath) >= PATH_UNITS - 1)
        internalError(SFX_MODULE_NAME, 1067);
    if (!volumeFileName(setPath, exeNamed, volume, PATH_UNITS))
        internalError(SFX_MODULE_NAME, 1076);
    archiveFile = _wsopen(volume, _O_RDONLY | _O_BINARY, _SH_DENYWR);
    if (archiveFile < 0)
        headerCorrupt();
}
