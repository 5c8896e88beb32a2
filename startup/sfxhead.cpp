// The stub's main function: hand the work to a private copy, check the file, read the options, show the
// optional start-up message and run the main dialog.
#include "sfxhead.h"

#include <commctrl.h>
#include <io.h>
#include <shellapi.h>

#include "../archive/extract.h"
#include "../archive/path_rules.h"
#include "../archive/progress.h"
#include "../decode/password.h"
#include "../launch/relaunch.h"
#include "../launch/run_after.h"
#include "../ui/folder_select.h"
#include "../ui/main_dialog.h"
#include "../ui/meter.h"
#include "command_line.h"
#include "messages.h"
#include "payload.h"
#include "run_log.h"
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
int silentMode;
RunSwitches runSwitches;

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

void readSwitches(wchar_t* arguments)
{
    readRunSwitches(arguments, &runSwitches);
    silentMode = (runSwitches.silent || (parameterBlock.flags & SFXF_SILENT)) ? 1 : 0;
}

bool startRunLog()
{
    if (!runSwitches.logPath[0] && !runSwitches.logPathCut)
        return true;
    wchar_t path[WORK_PATH_UNITS];
    copyText(path, WORK_PATH_UNITS, runSwitches.logPath);
    if (!runSwitches.logPathCut && resolveTargetFolder(path, WORK_PATH_UNITS) && openRunLog(path))
        return true;
    showMessage(IDS_CANNOT_LOG, formatPathMessage(IDS_CANNOT_LOG, path), MB_ICONERROR);
    return false;
}

// An environment variable's value; a variable set to nothing counts as set.
static bool lookUpVariable(const wchar_t* name, wchar_t* value, uint32_t capacity)
{
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableW(name, value, capacity);
    if (n == 0)
        value[0] = 0;
    return n < capacity && (n > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND);
}

bool expandTargetFolder(bool tell)
{
    wchar_t expanded[PATH_UNITS];
    wchar_t name[64];
    ExpandResult result = expandFolderVariables(targetFolder, lookUpVariable, expanded, PATH_UNITS, name, 64);
    if (result == EXPAND_DONE) {
        copyText(targetFolder, PATH_UNITS, expanded);
        return true;
    }
    if (!tell)
        return false;
    runOutcome = OUTCOME_FAILED;
    if (result == EXPAND_UNKNOWN)
        showMessage(IDS_UNKNOWN_VARIABLE,
                    formatMessageText(__LINE__, loadText(IDS_UNKNOWN_VARIABLE), name, targetFolder), MB_ICONERROR);
    else
        showMessage(IDS_CANNOT_CREATE_FOLDER,
                    formatMessageText(__LINE__, loadText(IDS_CANNOT_CREATE_FOLDER), targetFolder), MB_ICONERROR);
    return false;
}

void finishCompleteRun()
{
    if (filesSkipped > 0)
        runOutcome = OUTCOME_KEPT;
    // One kept at the overwrite question may be another version than the program expects.
    programAfterRun = (parameterBlock.flags & SFXF_RUN_AFTER) && filesSkipped == 0;
}

// Silent mode: the run that the dialog makes in automatic mode, without any window.
static void runSilently()
{
    if (!targetFolder[0])
        defaultTempFolder(targetFolder);
    if (!expandTargetFolder(true) || promptForPassword() != PASSWORD_GIVEN)
        return;
    bytesDone = lastMeterBytes = 0;
    filesExtracted = 0;
    if (extractAll() == EXTRACT_DONE)
        finishCompleteRun();
}

static void showSwitches()
{
    static wchar_t text[LOADED_TEXT_UNITS + PATH_UNITS];
    if (formatText(text, LOADED_TEXT_UNITS + PATH_UNITS, loadText(IDS_SWITCHES), fileNamePart(programPath)) < 0)
        internalError(SFX_MODULE_NAME, __LINE__);
    messageBox(nullptr, IDS_SWITCHES, text, loadText(IDS_CAPTION), MB_OK);
}

static bool showStartupMessage()
{
    // In silent mode the message is logged and the run goes on, as if the user had said yes.
    if (silentMode) {
        logMessage(0, startupText);
        return true;
    }
    UINT buttons = MB_OK;
    if (parameterBlock.flags & SFXF_STARTUP_ASK)
        buttons = (parameterBlock.flags & SFXF_STARTUP_OKCANCEL) ? MB_OKCANCEL : MB_YESNO;
    const wchar_t* caption = ((parameterBlock.flags & SFXF_HAS_CAPTION) && headerCaption[0])
                                 ? headerCaption : loadText(IDS_CAPTION);
    int answer = messageBox(nullptr, 0, startupText, caption, MB_TASKMODAL | buttons);
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
    if (!startRunLog())
        return OUTCOME_FAILED;
    if (setjmp(unwindPoint) != 0)
        return runOutcome;
    loadPayload();
    if (!checkEntryPoint()) {
        messageBox(mainDialogWindow, IDS_ZIP_DAMAGED, loadText(IDS_ZIP_DAMAGED), loadText(IDS_CAPTION), MB_ICONERROR);
        return OUTCOME_FAILED;
    }

    InfoParentScan scan = scanInfoAndParent(commandLine);
    if (scan.parentGiven)
        parentWindow = (HWND)(INT_PTR)scan.parentWindow;
    if (runSwitches.help) {
        showSwitches();
        return OUTCOME_SUCCESS;
    }
    if (scan.infoFound) {
        messageBox(nullptr, 0, infoText, loadText(IDS_CAPTION), MB_OK);
        return OUTCOME_SUCCESS;
    }
    if (LOBYTE(LOWORD(systemVersion)) < 4) {
        messageBox(nullptr, IDS_NEEDS_WIN32, loadText(IDS_NEEDS_WIN32), loadText(IDS_CAPTION), MB_OK);
        return OUTCOME_FAILED;
    }
    if (parameterBlock.completeMarker == 0) {
        messageBox(nullptr, IDS_INCOMPLETE_FILE, loadText(IDS_INCOMPLETE_FILE), loadText(IDS_CAPTION), MB_ICONERROR);
        return OUTCOME_FAILED;
    }

    overwriteWithoutAsking = (parameterBlock.flags & SFXF_OVERWRITE_DEFAULT) ? 1 : 0;
    if (runSwitches.overwrite != OVERWRITE_AS_BUILT)
        overwriteWithoutAsking = runSwitches.overwrite == OVERWRITE_ALWAYS ? 1 : 0;
    entryEncrypted = (parameterBlock.flags & SFXF_ASK_PASSWORD) ? 1 : 0;
    registerMeterClass(instanceHandle);

    if (startupText && !showStartupMessage())
        return OUTCOME_STOPPED;
    if (parameterBlock.flags & SFXF_AUTO)
        automaticMode = 1;
    // Silent mode takes its folder from the first argument that is no switch, /AUTO or not.
    if (silentMode)
        silentFolderArgument(commandLine, targetFolder, PATH_UNITS);
    else
        parseAutoSwitch(commandLine);

    if (silentMode) {
        automaticMode = 1;
        runSilently();
    } else if (DialogBoxParamW(instanceHandle, MAKEINTRESOURCEW(MAIN_DIALOG), parentWindow, mainDialogProc, 0) <= 0) {
        // The dialog only ends with 1: 0 (an owner that is no window) or -1 means it was never made.
        windowNotMade();
    }
    releaseWorkState();
    if (programAfterRun)
        return startProgramAfterRun();
    return runOutcome;
}
