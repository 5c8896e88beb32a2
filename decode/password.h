// The password prompt (dialog 400), the one stored password, and the check of an entry's encryption
// header.
#ifndef AKSFX_PASSWORD_H
#define AKSFX_PASSWORD_H

#include <windows.h>

// The password in the system's ANSI code page, or null until the dialog was first confirmed.
extern char* storedPassword;

// Wipes the stored password from memory and frees it; storedPassword is null afterwards.
void forgetPassword();

// Shows dialog 400 when a password is wanted (entryEncrypted); 1 = go on, 0 = cancelled.
INT_PTR promptForPassword();
INT_PTR CALLBACK passwordDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Reads and decrypts the 12-byte encryption header of the current entry and sets up the keys for its
// data; 1 when the check byte matches, 0 otherwise (also without a password).
int checkEncryptionHeader();

#endif
