// The password prompt and the encryption header check.
#include "password.h"

#include "../archive/volumes.h"
#include "../archive/walk.h"
#include "../startup/messages.h"
#include "../startup/sfxhead.h"
#include "../ui/screen_place.h"
#include "cipher.h"

char* storedPassword;

enum : int { PASSWORD_DIALOG = 400, PASSWORD_FIELD = 402, PASSWORD_BYTES = 255 };

INT_PTR promptForPassword()
{
    if (!entryEncrypted)
        return 1;
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
    bool stored = false;
    if (length > 0) {
        forgetPassword();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length + 1);
        storedPassword = block ? (char*)GlobalLock(block) : nullptr;
        if (block && !storedPassword)
            GlobalFree(block);
        stored = storedPassword != nullptr;
        if (stored)
            CopyMemory(storedPassword, typed, length);
    }
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
