// The main dialog. For now it shows the archive, the proposed folder and the overwrite choice, and
// closes; extraction is not wired in yet.
#include "main_dialog.h"

#include "../startup/messages.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"

enum : int {
    ID_INTRO = 101,
    ID_OVERWRITE = 102,
    ID_FOLDER = 106,
    ID_STATUS = 109,
    ID_HIDDEN_CHECK = 111,
    ID_METER = 201,
};

static const wchar_t* fileNameOf(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; p++)
        if (*p == L'\\' || *p == L'/')
            name = p + 1;
    return name;
}

static void centreOnScreen(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    int x = (GetSystemMetrics(SM_CXSCREEN) + r.left - r.right) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) + r.top - r.bottom) / 2;
    SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

static void initialise(HWND window)
{
    centreOnScreen(window);
    SendDlgItemMessageW(window, ID_OVERWRITE, BM_SETCHECK, overwriteWithoutAsking, 0);
    if (HWND meter = GetDlgItem(window, ID_METER))
        ShowWindow(meter, SW_HIDE);
    const wchar_t* name = fileNameOf(programPath);
    wchar_t title[300];
    if (formatText(title, 300, L"%s - %s", loadText(IDS_CAPTION), name) >= 0)
        SetWindowTextW(window, title);
    SendDlgItemMessageW(window, ID_FOLDER, EM_LIMITTEXT, 260, 0);
    SetDlgItemTextW(window, ID_FOLDER, targetFolder);
    mainDialogWindow = window;
    ShowWindow(GetDlgItem(window, ID_HIDDEN_CHECK), SW_HIDE);
    SetDlgItemTextW(window, ID_STATUS, L"");
    SetForegroundWindow(window);
    SetActiveWindow(window);
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        initialise(window);
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDCANCEL) {
            EndDialog(window, 1);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
