// The password prompt and the encryption header check.
#include "password.h"

#include "../archive/path_rules.h"
#include "../archive/volumes.h"
#include "../archive/walk.h"
#include "../launch/relaunch.h"
#include "../startup/messages.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "../ui/screen_place.h"
#include "cipher.h"

char* storedPassword;

enum : int { PASSWORD_DIALOG = 400, PASSWORD_FIELD = 402, PASSWORD_BYTES = 255 };

// Keeps text (length bytes in the ANSI code page) as the stored password; false without memory.
static bool storePassword(const char* text, UINT length)
{
    forgetPassword();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length + 1);
    storedPassword = block ? (char*)GlobalLock(block) : nullptr;
    if (block && !storedPassword)
        GlobalFree(block);
    if (!storedPassword)
        return false;
    CopyMemory(storedPassword, text, length);
    return true;
}

// The first line of a UTF-8 file (a byte-order mark dropped), taken as a typed password is: in the ANSI
// code page. False when the file cannot be read, its first line is empty, too long or no UTF-8.
static bool readPasswordFile(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    static char bytes[PASSWORD_BYTES * 4];
    DWORD got = 0;
    bool read = ReadFile(file, bytes, sizeof bytes, &got, nullptr) != 0;
    CloseHandle(file);
    const char* line = bytes;
    if (got >= 3 && (uint8_t)bytes[0] == 0xEF && (uint8_t)bytes[1] == 0xBB && (uint8_t)bytes[2] == 0xBF)
        line += 3;
    int length = 0;
    while (line + length < bytes + got && line[length] != '\r' && line[length] != '\n')
        length++;
    bool ended = line + length < bytes + got || got < sizeof bytes;
    wchar_t wide[PASSWORD_BYTES];
    char ansi[PASSWORD_BYTES];
    int units = (read && ended && length > 0)
                    ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line, length, wide, PASSWORD_BYTES - 1)
                    : 0;
    int n = units > 0 ? WideCharToMultiByte(CP_ACP, 0, wide, units, ansi, PASSWORD_BYTES - 1, nullptr, nullptr) : 0;
    bool stored = n > 0 && storePassword(ansi, (UINT)n);
    SecureZeroMemory(bytes, sizeof bytes);
    SecureZeroMemory(wide, sizeof wide);
    SecureZeroMemory(ansi, sizeof ansi);
    return stored;
}

static INT_PTR passwordFailed(int id, const wchar_t* text)
{
    runOutcome = OUTCOME_FAILED;
    showMessage(id, text, MB_ICONERROR);
    return PASSWORD_FAILED;
}

INT_PTR promptForPassword()
{
    if (!entryEncrypted)
        return PASSWORD_GIVEN;
    if (runSwitches.passwordPath[0] || runSwitches.passwordPathCut) {
        static wchar_t path[WORK_PATH_UNITS];
        copyText(path, WORK_PATH_UNITS, runSwitches.passwordPath);
        if (!runSwitches.passwordPathCut && resolveTargetFolder(path, WORK_PATH_UNITS) && readPasswordFile(path))
            return PASSWORD_GIVEN;
        return passwordFailed(IDS_CANNOT_READ_PASSWORD, formatPathMessage(IDS_CANNOT_READ_PASSWORD, path));
    }
    if (silentMode)
        return passwordFailed(IDS_NO_PASSWORD, loadText(IDS_NO_PASSWORD));
    return DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(PASSWORD_DIALOG), nullptr, passwordDialogProc, 0);
}

void forgetPassword()
{
    if (!storedPassword)
        return;
    HGLOBAL block = GlobalHandle(storedPassword);
    SecureZeroMemory(storedPassword, GlobalSize(block));
    GlobalUnlock(block);
    GlobalFree(block);
    storedPassword = nullptr;
}

// The typed text is wiped from this frame whatever becomes of it.
static void acceptPassword(HWND window)
{
    char typed[PASSWORD_BYTES];
    UINT length = GetDlgItemTextA(window, PASSWORD_FIELD, typed, PASSWORD_BYTES);
    bool stored = length > 0 && storePassword(typed, length);
    SecureZeroMemory(typed, sizeof typed);
    if (stored)
        EndDialog(window, 1);
}

INT_PTR CALLBACK passwordDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        centreOnScreen(window);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            acceptPassword(window);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

int checkEncryptionHeader()
{
    if (!storedPassword)
        return 0;
    uint8_t header[12];
    if (readArchive(header, 12) != 12)
        readError(14);
    localHeader.compressedSize -= 12;
    initKeys(storedPassword);
    decryptBuffer(header, 12);
    return header[11] == encryptionCheckByte(localHeader.flags, localHeader.crc32, localHeader.time) ? 1 : 0;
}
