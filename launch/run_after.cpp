// Starting the program after extraction. The program is never searched for: CreateProcessW gets its full
// path below the target folder as the application name, so a program of the same name beside the started
// file, in the private folder or on the search path is never the one that runs.
#include "run_after.h"

#include <windows.h>

#include "../archive/path_rules.h"
#include "../startup/messages.h"
#include "../startup/sfxhead.h"
#include "../startup/text_format.h"
#include "relaunch.h"
#include "run_rules.h"

// The target folder as extraction used it: relative ones resolved, with a trailing separator.
static bool targetFolderPath(wchar_t* folder)
{
    copyText(folder, WORK_PATH_UNITS, targetFolder);
    return folder[0] && resolveTargetFolder(folder, WORK_PATH_UNITS) && appendSeparator(folder, WORK_PATH_UNITS);
}

static int cannotStart(const wchar_t* program)
{
    static wchar_t text[LOADED_TEXT_UNITS + RUN_COMMAND_UNITS];
    if (formatText(text, LOADED_TEXT_UNITS + RUN_COMMAND_UNITS, loadText(IDS_CANNOT_RUN), program) < 0)
        internalError(SFX_MODULE_NAME, __LINE__);
    // The dialog has ended: the box has no owner.
    MessageBoxW(nullptr, text, loadText(IDS_CAPTION), MB_ICONERROR);
    return OUTCOME_FAILED;
}

int startProgramAfterRun()
{
    wchar_t program[PATH_UNITS];
    const wchar_t* arguments = L"";
    if (!splitRunCommand(runCommand, program, PATH_UNITS, &arguments) || !isRunnableProgramName(program))
        return cannotStart(runCommand);
    wchar_t folder[WORK_PATH_UNITS];
    wchar_t fullPath[OUTPUT_PATH_MAX + 1];
    static wchar_t commandLine[OUTPUT_PATH_MAX + RUN_COMMAND_UNITS + 4];
    if (!targetFolderPath(folder) || !joinOutputPath(folder, program, fullPath)
        || !formatRunCommandLine(fullPath, arguments, commandLine, OUTPUT_PATH_MAX + RUN_COMMAND_UNITS + 4))
        return cannotStart(program);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(fullPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process))
        return cannotStart(fullPath);
    DWORD code = OUTCOME_SUCCESS;
    if (parameterBlock.flags & SFXF_RUN_WAIT) {
        WaitForSingleObject(process.hProcess, INFINITE);
        if (!GetExitCodeProcess(process.hProcess, &code))
            code = OUTCOME_FAILED;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
