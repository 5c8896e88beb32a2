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

// The command line that starts the program: its full path in quotes, then a blank and the arguments
// when there are any. False (out empty) when it does not fit capacity units.
bool formatRunCommandLine(const wchar_t* fullPath, const wchar_t* arguments, wchar_t* out, uint32_t capacity);

#endif
