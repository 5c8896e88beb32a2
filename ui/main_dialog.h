// The main dialog (template 100).
#ifndef AKSFX_MAIN_DIALOG_H
#define AKSFX_MAIN_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
