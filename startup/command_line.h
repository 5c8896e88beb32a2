// Pure rules for the command line of the stub: the -info and -parent= scan, the AUTO/NOAUTO switch, and
// the switches of unattended use (silent mode, overwriting, a log, a password file, help).
#ifndef AKSFX_COMMAND_LINE_H
#define AKSFX_COMMAND_LINE_H

#include <stdint.h>
#include <wchar.h>

struct InfoParentScan {
    bool infoFound;      // "-info" occurs somewhere (then the scan stops there)
    bool parentGiven;    // at least one "-parent=" came before it
    long parentWindow;   // the number after the last "-parent=" (0 without digits)
};

// Looks at every position of the command line: "-info" ends the scan, "-parent=" takes the decimal
// number that follows (leading blanks and a sign allowed). Both match case-sensitively, anywhere.
InfoParentScan scanInfoAndParent(const wchar_t* commandLine);

enum AutoSwitch {
    AUTO_SWITCH_NONE,     // no switch character, too short, or another word: leave automaticMode alone
    AUTO_SWITCH_NOAUTO,   // automatic mode off
    AUTO_SWITCH_AUTO,     // automatic mode on; *rest points at the folder arguments (may be empty)
    AUTO_SWITCH_TOO_LONG, // AUTO followed by more than 260 characters: automatic mode off
};

// Finds the first '-' or '/' of the command line and reads the word after it. The word (up to the first
// blank) is changed in place to capitals by clearing bit 5 of every character. Only four characters of
// AUTO are compared, so /AUTOMATIC counts as AUTO and MATIC is left as the rest.
AutoSwitch findAutoSwitch(wchar_t* commandLine, const wchar_t* autoWord, const wchar_t* noautoWord,
                          const wchar_t** rest);

// The first argument that does not begin with '-', or null.
const wchar_t* firstFolderArgument(wchar_t* const* arguments, int count);

// Reads the argument that begins at or after index *position of text, a command line without its program
// name, as the system's splitter reads it (blanks and tabs separate; quotes group and are dropped; 2n
// backslashes before a quote give n and the quote counts, 2n+1 give n and a literal quote; inside quotes
// a doubled quote is a literal one). The argument's value goes into value (capacity units; a longer
// one is cut and *cut is set), its raw characters are text[*start, *position) afterwards. False at the
// end of the text.
bool nextArgument(const wchar_t* text, uint32_t* position, uint32_t* start, wchar_t* value, uint32_t capacity,
                  bool* cut);

enum : uint32_t { SWITCH_PATH_UNITS = 261 };

enum OverwriteSwitch : int {
    OVERWRITE_AS_BUILT = -1, // neither switch: the file's own setting
    OVERWRITE_NEVER = 0,     // /NOOVERWRITE: existing files are kept
    OVERWRITE_ALWAYS = 1,    // /OVERWRITE: existing files are replaced without a question
};

// The switches of unattended use. Each is one whole argument, with '/' or '-' in front, letter case
// ignored: /S or /SILENT, /OVERWRITE, /NOOVERWRITE, /LOG=path, /PASSWORD-FILE=path, and for help /?, /h,
// /HELP and --help. The last of a kind counts.
struct RunSwitches {
    bool silent;
    bool help;
    OverwriteSwitch overwrite;
    bool logPathCut;                         // the /LOG= path was longer than 260 characters
    bool passwordPathCut;                    // the same for /PASSWORD-FILE=
    wchar_t logPath[SWITCH_PATH_UNITS];      // empty without /LOG=; cut when too long
    wchar_t passwordPath[SWITCH_PATH_UNITS]; // empty without /PASSWORD-FILE=; cut when too long
};

// Finds the switches above among the user's arguments and blanks them out of the text in place, so that
// the other options are read from what is left exactly as before. Other arguments stay as they are.
void readRunSwitches(wchar_t* arguments, RunSwitches* switches);

// Silent mode's target folder on the command line: the first argument left that begins with neither
// '-' nor '/', copied into folder (capacity units, cut if longer). False when there is none.
bool silentFolderArgument(const wchar_t* arguments, wchar_t* folder, uint32_t capacity);

#endif
