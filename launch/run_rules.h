// Pure rules for the program a file may start after extraction: the header's run command is the
// program's path relative to the target folder (quoted when it holds blanks) and its arguments.
#ifndef AKSFX_RUN_RULES_H
#define AKSFX_RUN_RULES_H

#include <stdint.h>
#include <wchar.h>

// Splits command into the program (the first argument without its quotes, at most programCapacity - 1
// characters) and *arguments (what follows it, blanks before it skipped). False when there is no
// program, its quote is not closed, or it does not fit.
bool splitRunCommand(const wchar_t* command, wchar_t* program, uint32_t programCapacity, const wchar_t** arguments);

// True when program names a file below the target folder: a relative name that the entry-name rule
// accepts and that does not end in a separator.
bool isRunnableProgramName(const wchar_t* program);

// How the program is started, by the extension of its name (any letter case): a program (.exe) by
// itself; an installer package (.msi) by the system's msiexec.exe, which installs it; anything else not
// at all. A batch file (.bat, .cmd) would run through cmd.exe, whose parsing of its command line would
// take in the target folder's name (a '%' or '^' in the user's folder expands), and scripts and
// documents start whatever program the user's system picks for them. The extension is what follows the
// last dot of the last component, as it stands: "setup.exe." and "a.msi " have none that counts.
enum RunKind { RUN_REFUSED, RUN_PROGRAM, RUN_PACKAGE };
RunKind runKindOf(const wchar_t* program);

enum : uint32_t {
    // The application name of msiexec.exe: the system folder (MAX_PATH) and "\msiexec.exe".
    INSTALLER_PATH_UNITS = 260 + 13,
};

// The command line that starts the program: its full path in quotes, then a blank and the arguments
// when there are any. False (out empty) when it does not fit capacity units.
bool formatRunCommandLine(const wchar_t* fullPath, const wchar_t* arguments, wchar_t* out, uint32_t capacity);

// msiexec.exe in the system folder (as GetSystemDirectoryW gives it, without a trailing separator, or
// with one for a root folder). False (out empty) when it does not fit capacity units.
bool formatInstallerPath(const wchar_t* systemFolder, wchar_t* out, uint32_t capacity);

// The command line that installs a package: msiexec's full path in quotes, " /i ", the package's full
// path in quotes, then a blank and the arguments when there are any. False (out empty) when it does not
// fit capacity units.
bool formatPackageCommandLine(const wchar_t* installerPath, const wchar_t* packagePath, const wchar_t* arguments,
                              wchar_t* out, uint32_t capacity);

#endif
