// Pure rules of the private relaunch: the copy's command line, the private folder's name and the marker
// arguments that pass between the started process and its copy.
#ifndef AKSFX_RELAUNCH_RULES_H
#define AKSFX_RELAUNCH_RULES_H

#include <stdint.h>
#include <wchar.h>

// " -run=1 -shortcut=" and an opening quote: 19 characters.
#define RELAUNCH_MARKERS L" -run=1 -shortcut=\""

// Index where the system's splitter ends the first argument, the program name: after its closing quote
// when the line begins with a quote (or at the end when none follows), else at the first blank or tab.
uint32_t programNameEnd(const wchar_t* commandLine);

// How the splitter leaves a piece of command line that follows the program name.
struct ArgumentTail {
    bool insideQuote;             // it ends inside an open quote
    uint32_t trailingBackslashes; // the backslashes it ends with
};
ArgumentTail argumentTail(const wchar_t* text);

// Room for the command line that buildCopyCommandLine makes, terminator included. An upper bound: it
// counts the leading blank and the closing quote whether or not they are written.
uint32_t copyCommandLineUnits(const wchar_t* commandLine, const wchar_t* startedPath);

// The copy's command line: the text after the program name of commandLine, byte for byte (with a blank in
// front when it does not begin with one, so that the copy's program name is empty); when closeQuote, its
// trailing backslashes doubled and a quote that closes its open quote; then the markers, the started
// file's path and a closing quote. With closeQuote equal to argumentTail(rest).insideQuote, the copy's
// arguments are the user's arguments unchanged, then "-run=1" and "-shortcut=" with the path.
// startedPath holds no quote and does not end with a backslash. out must hold copyCommandLineUnits() units.
void buildCopyCommandLine(const wchar_t* commandLine, const wchar_t* startedPath, bool closeQuote, wchar_t* out);

// In the copy: the user's own arguments in its command line, [*start, *end): from the end of the program
// name to the appended markers (the last RELAUNCH_MARKERS followed by a path without quotes, a quote and
// the end of the line). Without such a suffix *end is the length of the line.
void userArgumentRange(const wchar_t* commandLine, uint32_t* start, uint32_t* end);

// The private folder's name: n in lowercase hexadecimal without leading zeros (at most 8 digits).
void folderNameFor(uint32_t n, wchar_t out[9]);

// True when the argument equals "-run=1"; exactCase demands the exact spelling.
bool isRunMarker(const wchar_t* argument, bool exactCase);

// The text after "-shortcut=" of the last argument that begins with it, or null. The relaunch appends its
// own as the last argument, so one the user typed cannot stand in for it.
const wchar_t* findShortcutArgument(wchar_t* const* arguments, int count);

#endif
