// The stub's main function: hand the work to a private copy, check the file, read the options, show the
// optional start-up message and run the main dialog.
#include "sfxhead.h"

#include <commctrl.h>
#include <io.h>
#include <shellapi.h>

#include "../archive/path_rules.h"
#include "../decode/password.h"
#include "../launch/relaunch.h"
#include "../launch/run_after.h"
#include "../ui/main_dialog.h"
#include "../ui/meter.h"
#include "command_line.h"
#include "messages.h"
#include "payload.h"
#include "text_format.h"

// Filled in by the building tool: found in the file by its signature, which occurs only here.
__attribute__((used)) StubParameterBlock parameterBlock = {
    SFX_BLOCK_SIGNATURE_BYTES, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

HINSTANCE instanceHandle;
HCURSOR waitCursor;
HCURSOR arrowCursor;
DWORD systemVersion;

// The text buffers live in static storage, so taking them cannot fail.
wchar_t programPath[PATH_UNITS];
wchar_t targetFolder[PATH_UNITS];
wchar_t headerCaption[CAPTION_UNITS];
wchar_t infoText[INFO_TEXT_UNITS];
wchar_t messageText[MESSAGE_TEXT_UNITS];
wchar_t* startupText;
wchar_t runCommand[RUN_COMMAND_UNITS];

HWND parentWindow;
HWND mainDialogWindow;
int automaticMode;
int overwriteWithoutAsking;
int entryEncrypted;
int programAfterRun;

enum : int { MAIN_DIALOG = 100 };

void parseAutoSwitch(wchar_t* commandLine)
{
    wchar_t autoWord[8], noautoWord[8];
    copyText(autoWord, 8, loadText(IDS_AUTO));
    copyText(noautoWord, 8, loadText(IDS_NOAUTO));
    const wchar_t* rest = nullptr;
    switch (findAutoSwitch(commandLine, autoWord, noautoWord, &rest)) {
    case AUTO_SWITCH_NONE:
        return;
    case AUTO_SWITCH_NOAUTO:
    case AUTO_SWITCH_TOO_LONG:
        automaticMode = 0;
        return;
    case AUTO_SWITCH_AUTO:
        break;
    }
    automaticMode = 1;
    if (!*rest)
        return;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(rest, &count);
    if (!arguments)
        return;
    const wchar_t* folder = firstFolderArgument(arguments, count);
    if (folder) {
        // A folder longer than the buffer is cut at 260 characters.
        targetFolder[0] = 0;
        appendText(targetFolder, PATH_UNITS, folder);
    }
    LocalFree(arguments);
}

void releaseWorkState()
{
    forgetPassword();
    LocalFree(inflateWindow);
    LocalFree(inputBuffer);
    LocalFree(outputBuffer);
    inflateWindow = inputBuffer = outputBuffer = nullptr;
    if (archiveFile != -1) {
        _close(archiveFile);
        archiveFile = -1;
    }
    if (outputFile != -1) {
        _close(outputFile);
        outputFile = -1;
    }
}

// Replaces the last component of programPath by the name under which the file system stores it.
static void useStoredName()
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(programPath, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FindClose(search);
    *(wchar_t*)fileNamePart(programPath) = 0;
    if (!appendText(programPath, PATH_UNITS, found.cFileName))
        GetModuleFileNameW(nullptr, programPath, PATH_UNITS);
}

static bool showStartupMessage()
{
    UINT buttons = MB_OK;
    if (parameterBlock.flags & SFXF_STARTUP_ASK)
        buttons = (parameterBlock.flags & SFXF_STARTUP_OKCANCEL) ? MB_OKCANCEL : MB_YESNO;
    const wchar_t* caption = ((parameterBlock.flags & SFXF_HAS_CAPTION) && headerCaption[0])
                                 ? headerCaption : loadText(IDS_CAPTION);
    int answer = MessageBoxW(nullptr, startupText, caption, MB_TASKMODAL | buttons);
    if (answer == IDNO || answer == IDCANCEL)
        return false;
    LocalFree(startupText);
    startupText = nullptr;
    return true;
}

int runStub(wchar_t* commandLine)
{
    parentWindow = nullptr;
    InitCommonControls();
    waitCursor = LoadCursorW(nullptr, IDC_WAIT);
    arrowCursor = LoadCursorW(nullptr, IDC_ARROW);

    wchar_t folder[512];
    DWORD n = GetModuleFileNameW(nullptr, folder, 512);
    if (n > 0 && n < 512) {
        wchar_t* last = nullptr;
        for (wchar_t* p = folder; *p; p++)
            if (*p == L'\\')
                last = p;
        if (last) {
            *last = 0;
            SetCurrentDirectoryW(folder);
        }
    }

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    systemVersion = GetVersion();

    n = GetModuleFileNameW(nullptr, programPath, PATH_UNITS);
    if (n == 0 || n >= PATH_UNITS)
        programPath[PATH_UNITS - 1] = 0;
    useStoredName();

    runOutcome = OUTCOME_SUCCESS;
    if (setjmp(unwindPoint) != 0)
        return runOutcome;
    loadPayload();
    if (!checkEntryPoint()) {
        MessageBoxW(mainDialogWindow, loadText(IDS_ZIP_DAMAGED), loadText(IDS_CAPTION), MB_ICONERROR);
        return OUTCOME_FAILED;
    }

    InfoParentScan scan = scanInfoAndParent(commandLine);
    if (scan.parentGiven)
        parentWindow = (HWND)(INT_PTR)scan.parentWindow;
    if (scan.infoFound) {
        MessageBoxW(nullptr, infoText, loadText(IDS_CAPTION), MB_OK);
        return 0;
    }
    if (LOBYTE(LOWORD(systemVersion)) < 4) {
        MessageBoxW(nullptr, loadText(IDS_NEEDS_WIN32), loadText(IDS_CAPTION), MB_OK);
        return OUTCOME_FAILED;
    }
    if (parameterBlock.completeMarker == 0) {
        MessageBoxW(nullptr, loadText(IDS_INCOMPLETE_FILE), loadText(IDS_CAPTION), MB_ICONERROR);
        return OUTCOME_FAILED;
    }

    overwriteWithoutAsking = (parameterBlock.flags & SFXF_OVERWRITE_DEFAULT) ? 1 : 0;
    entryEncrypted = (parameterBlock.flags & SFXF_ASK_PASSWORD) ? 1 : 0;
    registerMeterClass(instanceHandle);

    if (startupText && !showStartupMessage())
        return OUTCOME_STOPPED;
    if (parameterBlock.flags & SFXF_AUTO)
        automaticMode = 1;
    parseAutoSwitch(commandLine);

    // The dialog only ends with 1: 0 (an owner that is no window) or -1 means it was never made.
    if (DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(MAIN_DIALOG), parentWindow, mainDialogProc, 0) <= 0)
        windowNotMade();
    releaseWorkState();
    if (programAfterRun)
        return startProgramAfterRun();
    return runOutcome;
}
