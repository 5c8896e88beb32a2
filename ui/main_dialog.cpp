// The main dialog (template 100): names the archive, proposes the folder, runs the extraction with its
// meter or status line, reports the result, and offers the archiver, an about box and help.
#include "main_dialog.h"

#include "../archive/extract.h"
#include "../archive/path_rules.h"
#include "../archive/progress.h"
#include "../decode/password.h"
#include "../launch/archiver.h"
#include "../launch/relaunch.h"
#include "../startup/messages.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "dialog_rules.h"
#include "folder_select.h"
#include "meter.h"
#include "screen_place.h"

enum : int {
    ID_INTRO = 101,
    ID_OVERWRITE = 102,
    ID_HELP = 104,
    ID_FOLDER = 106,
    ID_HIDDEN_CHECK = 111,
    ID_ABOUT = 112,
    ID_ARCHIVER = 113,
    ID_BROWSE = 115,
    METER_TIMER = 69,
    METER_TIMER_PERIOD = 500,
};

static UINT_PTR meterTimerId;

static const wchar_t kBuildNumber[] = L"16142";

// The file's own icon (group 1, which the building tool may replace) in the title bar and the task bar.
static void setWindowIcons(HWND window)
{
    HANDLE small = LoadImageW(instanceHandle, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                              GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    if (small)
        SendMessageW(window, WM_SETICON, ICON_SMALL, (LPARAM)small);
    if (HICON big = LoadIconW(instanceHandle, MAKEINTRESOURCEW(1)))
        SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)big);
}

static void initialise(HWND window)
{
    centreOnScreen(window);
    setWindowIcons(window);
    SendDlgItemMessageW(window, ID_OVERWRITE, BM_SETCHECK, overwriteWithoutAsking, 0);
    if (HWND meter = GetDlgItem(window, METER_CONTROL))
        ShowWindow(meter, SW_HIDE);
    extractionRunning = 0;

    const wchar_t* name = fileNamePart(programPath);
    const wchar_t* shown = introductionName(name, loadText(IDS_THIS_FILE));
    SetDlgItemTextW(window, ID_INTRO, formatMessageText(__LINE__, loadText(IDS_INTRO), shown));
    SetWindowTextW(window, formatMessageText(__LINE__, L"%s - %s", loadText(IDS_CAPTION), name));
    switch (chooseDialogTitle(parameterBlock.flags, headerCaption)) {
    case TITLE_HEADER_CAPTION:
        SetWindowTextW(window, headerCaption);
        break;
    case TITLE_SETUP:
        SetWindowTextW(window, loadText(IDS_SETUP));
        break;
    case TITLE_CAPTION_AND_NAME:
        break;
    }

    SendDlgItemMessageW(window, ID_FOLDER, EM_LIMITTEXT, 260, 0);
    // A relative folder ("." among them), or one with environment variables, is shown as the folder it
    // stands for.
    if (!targetFolder[0])
        defaultTempFolder(targetFolder);
    else if (expandTargetFolder(false))
        resolveTargetFolder(targetFolder, PATH_UNITS);
    SetDlgItemTextW(window, ID_FOLDER, targetFolder);

    mainDialogWindow = window;
    ShowWindow(GetDlgItem(window, ID_HIDDEN_CHECK), SW_HIDE);
    SetDlgItemTextW(window, STATUS_LINE, L"");
    if (automaticMode)
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    SetForegroundWindow(window);
    SetActiveWindow(window);
}

static void showMeter(HWND window)
{
    if (HWND status = GetDlgItem(window, STATUS_LINE))
        ShowWindow(status, SW_HIDE);
    ShowWindow(GetDlgItem(window, METER_CONTROL), SW_SHOW);
    meterVisible = 1;
}

static void redraw(HWND window)
{
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

// Returns TRUE when the password dialog was cancelled.
static BOOL startExtraction(HWND window)
{
    HWND unzip = GetDlgItem(window, IDOK);
    SendMessageW(window, DM_SETDEFID, IDCANCEL, 0);
    SendMessageW(unzip, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendDlgItemMessageW(window, IDCANCEL, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EnableWindow(unzip, FALSE);

    overwriteWithoutAsking = SendDlgItemMessageW(window, ID_OVERWRITE, BM_GETCHECK, 0, 0) == BST_CHECKED;
    GetDlgItemTextW(window, ID_FOLDER, targetFolder, PATH_UNITS);
    if (!targetFolder[0]) {
        messageBox(window, IDS_NO_FOLDER, loadText(IDS_NO_FOLDER), loadText(IDS_CAPTION), MB_ICONERROR);
        EnableWindow(unzip, TRUE);
        return FALSE;
    }
    SetDlgItemTextW(window, STATUS_LINE, L"");
    // Unattended, nobody is there to try again: a folder or password that fails ends the dialog.
    if (!expandTargetFolder(true)) {
        if (automaticMode)
            EndDialog(window, 1);
        EnableWindow(unzip, TRUE);
        return FALSE;
    }
    INT_PTR password = promptForPassword();
    if (password == PASSWORD_NO_WINDOW || password == PASSWORD_FAILED) {
        if (password == PASSWORD_NO_WINDOW)
            windowNotMade();
        if (automaticMode)
            EndDialog(window, 1);
        else
            EnableWindow(unzip, TRUE);
        return TRUE;
    }
    if (password == PASSWORD_CANCELLED) {
        // Unattended, the run counts as stopped by the user.
        if (automaticMode)
            runOutcome = OUTCOME_STOPPED;
        EnableWindow(unzip, TRUE);
        return TRUE;
    }

    meterVisible = 0;
    HWND meter = GetDlgItem(window, METER_CONTROL);
    if (meter) {
        SendMessageW(meter, METER_SETPOS, 0, 0);
        SendMessageW(meter, METER_SETRANGE, 100, 0);
        meterTimerId = 0;
        if (meterShownAtOnce(parameterBlock.endRecordOffset, parameterBlock.flags)) {
            showMeter(window);
        } else {
            meterTimerId = SetTimer(window, METER_TIMER, METER_TIMER_PERIOD, nullptr);
            if (!meterTimerId)
                showMeter(window);
        }
    }

    bytesDone = lastMeterBytes = 0;
    filesExtracted = 0;
    ExtractStatus result = extractAll();

    if (meterTimerId) {
        KillTimer(window, METER_TIMER);
        meterTimerId = 0;
    }
    if (meter)
        SendMessageW(meter, METER_SETPOS, 100, 0);
    redraw(mainDialogWindow);
    if (meter && meterVisible) {
        ShowWindow(meter, SW_HIDE);
        // The status line shares the meter's place: bring it back for the result and the next run.
        if (HWND status = GetDlgItem(window, STATUS_LINE))
            ShowWindow(status, SW_SHOW);
    }
    redraw(mainDialogWindow);
    SetDlgItemTextW(window, STATUS_LINE, L"");

    if (result != EXTRACT_DONE) {
        SetDlgItemTextW(window, STATUS_LINE, loadText(IDS_ABORTED));
        EndDialog(window, 1);
    } else {
        formatMessageText(__LINE__, loadText(IDS_SUCCESS), filesExtracted);
        SetDlgItemTextW(window, STATUS_LINE, messageText);
        if (!automaticMode)
            messageBox(mainDialogWindow, IDS_SUCCESS, messageText, loadText(IDS_CAPTION), MB_OK);
        // The program starts once the dialog has closed, and only when every entry was written.
        finishCompleteRun();
        if (programAfterRun)
            EndDialog(window, 1);
        else if (automaticMode)
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
    EnableWindow(unzip, TRUE);
    return FALSE;
}

static void meterTick(HWND window)
{
    if (GetLastActivePopup(window) != window)
        return;
    if (meterTimerId) {
        KillTimer(window, METER_TIMER);
        meterTimerId = 0;
    }
    HWND meter = GetDlgItem(window, METER_CONTROL);
    if (meter && extractionRunning && meterShownAtTick(bytesDone, parameterBlock.totalSize)) {
        if (HWND status = GetDlgItem(window, STATUS_LINE))
            ShowWindow(status, SW_HIDE);
        meterVisible = 1;
        ShowWindow(meter, SW_SHOW);
        InvalidateRect(meter, nullptr, FALSE);
    }
}

static void showHelp()
{
    static wchar_t text[LOADED_TEXT_UNITS + PATH_UNITS];
    if (formatText(text, LOADED_TEXT_UNITS + PATH_UNITS, loadText(IDS_HELP), fileNamePart(programPath)) < 0)
        internalError(SFX_MODULE_NAME, __LINE__);
    messageBox(mainDialogWindow, IDS_HELP, text, loadText(IDS_CAPTION), MB_OK);
}

static void showAbout(HWND window)
{
    messageBox(window, IDS_ABOUT, formatMessageText(__LINE__, loadText(IDS_ABOUT), kBuildNumber), loadText(IDS_CAPTION),
               MB_OK);
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        initialise(window);
        return TRUE;
    case WM_TIMER:
        if (wParam == METER_TIMER)
            meterTick(window);
        return FALSE;
    case WM_COMMAND:
        switch (wParam) {
        case IDOK:
            return startExtraction(window);
        case IDCANCEL:
            EndDialog(window, 1);
            return TRUE;
        case ID_HELP:
            showHelp();
            return FALSE;
        case ID_ABOUT:
            showAbout(window);
            return FALSE;
        case ID_ARCHIVER:
            if (runArchiver())
                EndDialog(window, 1);
            return FALSE;
        case ID_BROWSE:
            browseForFolder(window);
            return FALSE;
        }
        return FALSE;
    }
    return FALSE;
}
