// The private relaunch: the started file hands its work to a copy of itself in a fresh folder below the
// temporary folder, waits for it and removes the folder.
#ifndef AKSFX_RELAUNCH_H
#define AKSFX_RELAUNCH_H

#include <stdint.h>

// True when this process is the private copy and start-up goes on; false when the work was handed over
// (or could not be), and the process then ends with exit code 0. Ends the process with exit code 1 when
// a ".local" redirection sits beside the program.
bool relaunchFromTemporaryCopy();

// In a private copy: the path of the file the user started. False (buffer unchanged) elsewhere.
bool recoverLaunchPath(wchar_t* buffer, uint32_t capacity);

// In a private copy: the folder that holds the file the user started (its path up to, not including,
// the last backslash). False (buffer unchanged) elsewhere.
bool recoverLaunchFolder(wchar_t* buffer, uint32_t capacity);

bool temporaryFolder(wchar_t* folder);
bool makeUniqueFolder(wchar_t* folder);
bool deleteFolderTree(const wchar_t* folder);

#endif
