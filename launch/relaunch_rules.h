// Pure rules of the private relaunch: the copy's command line, the private folder's name and the marker
// arguments that pass between the started process and its copy.
#ifndef AKSFX_RELAUNCH_RULES_H
#define AKSFX_RELAUNCH_RULES_H

#include <stdint.h>
#include <wchar.h>

// " -run=1 -shortcut=" and an opening quote: 19 characters.
#define RELAUNCH_MARKERS L" -run=1 -shortcut=\""

// Length of the command line that buildCopyCommandLine makes, terminator included.
uint32_t copyCommandLineUnits(const wchar_t* commandLine, const wchar_t* programName, const wchar_t* startedPath);

// The copy's command line: what follows the program name in commandLine (with its leading blank), then
// the markers, the started file's path and a closing quote. programName is the first argument as the
// system split it; when commandLine does not begin with it, the name was quoted and is two longer.
// out must hold copyCommandLineUnits() units.
void buildCopyCommandLine(const wchar_t* commandLine, const wchar_t* programName, const wchar_t* startedPath,
                          wchar_t* out);

// The private folder's name: n in lowercase hexadecimal without leading zeros (at most 8 digits).
void folderNameFor(uint32_t n, wchar_t out[9]);

// True when the argument equals "-run=1"; exactCase demands the exact spelling.
bool isRunMarker(const wchar_t* argument, bool exactCase);

// The text after "-shortcut=" of the first argument that begins with it, or null.
const wchar_t* findShortcutArgument(wchar_t* const* arguments, int count);

#endif
