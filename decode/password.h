// The password prompt (dialog 400), the one stored password, and the check of an entry's encryption
// header.
#ifndef AKSFX_PASSWORD_H
#define AKSFX_PASSWORD_H

#include <windows.h>

// The password in the system's ANSI code page, or null until the dialog was first confirmed.
extern char* storedPassword;

// Wipes the stored password from memory and frees it; storedPassword is null afterwards.
void forgetPassword();

enum : INT_PTR {
    PASSWORD_NO_WINDOW = -1, // the dialog could not be made
    PASSWORD_CANCELLED = 0,
    PASSWORD_GIVEN = 1,      // or none is wanted
    PASSWORD_FAILED = 2,     // the password file could not be read, or silent mode has none: the user was
                             // told and the outcome is a failure
};

// Takes the password when one is wanted (entryEncrypted): from the file /PASSWORD-FILE= names (its first
// line, UTF-8), else from dialog 400; silent mode, which shows no dialog, has none without the file.
INT_PTR promptForPassword();
INT_PTR CALLBACK passwordDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Reads and decrypts the 12-byte encryption header of the current entry and sets up the keys for its
// data; 1 when the check byte matches, 0 otherwise (also without a password).
int checkEncryptionHeader();

#endif
