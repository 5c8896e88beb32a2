// Starting the program after extraction. The program is never searched for: CreateProcessW gets its full
// path below the target folder as the application name, so a program of the same name beside the started
// file, in the private folder or on the search path is never the one that runs. An installer package
// (.msi) is installed by msiexec.exe, named by its full path in the system folder; a name with any other
// extension is not started (run_rules.h), also from a file built by an older tool.
#include "run_after.h"

#include <windows.h>

#include "../archive/path_rules.h"
#include "../startup/messages.h"
#include "../startup/run_log.h"
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
    messageBox(nullptr, IDS_CANNOT_RUN, text, loadText(IDS_CAPTION), MB_ICONERROR);
    return OUTCOME_FAILED;
}

enum : uint32_t {
    // msiexec's quoted path, " /i ", the package's quoted path, a blank and the arguments.
    RUN_LINE_UNITS = INSTALLER_PATH_UNITS + OUTPUT_PATH_MAX + RUN_COMMAND_UNITS + 8,
};

// msiexec.exe in the system folder (for a 32-bit program on 64-bit Windows, the 32-bit one).
static bool installerPath(wchar_t* out)
{
    wchar_t system[MAX_PATH + 1];
    UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
    return n > 0 && n <= MAX_PATH && formatInstallerPath(system, out, INSTALLER_PATH_UNITS);
}

int startProgramAfterRun()
{
    wchar_t program[PATH_UNITS];
    const wchar_t* arguments = L"";
    if (!splitRunCommand(runCommand, program, PATH_UNITS, &arguments) || !isRunnableProgramName(program))
        return cannotStart(runCommand);
    wchar_t folder[WORK_PATH_UNITS];
    wchar_t fullPath[OUTPUT_PATH_MAX + 1];
    static wchar_t application[INSTALLER_PATH_UNITS];
    static wchar_t commandLine[RUN_LINE_UNITS];
    if (!targetFolderPath(folder) || !joinOutputPath(folder, program, fullPath))
        return cannotStart(program);
    const RunKind kind = runKindOf(program);
    if (kind == RUN_PROGRAM) {
        if (!copyText(application, INSTALLER_PATH_UNITS, fullPath)
            || !formatRunCommandLine(fullPath, arguments, commandLine, RUN_LINE_UNITS))
            return cannotStart(fullPath);
    } else if (kind == RUN_PACKAGE) {
        if (!installerPath(application)
            || !formatPackageCommandLine(application, fullPath, arguments, commandLine, RUN_LINE_UNITS))
            return cannotStart(fullPath);
    } else {
        return cannotStart(fullPath);
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process))
        return cannotStart(fullPath);
    logEvent(L"started", commandLine);
    DWORD code = OUTCOME_SUCCESS;
    if (parameterBlock.flags & SFXF_RUN_WAIT) {
        WaitForSingleObject(process.hProcess, INFINITE);
        if (!GetExitCodeProcess(process.hProcess, &code))
            code = OUTCOME_FAILED;
        logNumber(L"program exit code", (long)code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
