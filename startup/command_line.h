// Pure rules for the command line of the stub: the -info and -parent= scan and the AUTO/NOAUTO switch.
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

#endif
