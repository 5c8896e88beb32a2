// The private relaunch: the started file hands its work to a copy of itself in a fresh folder below the
// temporary folder, waits for it and removes the folder.
#ifndef AKSFX_RELAUNCH_H
#define AKSFX_RELAUNCH_H

#include <windows.h>

#include <stdint.h>

// True when this process is the private copy and start-up goes on; false when the work was handed over,
// and the process then ends with *exitCode: the copy's own, or 1 after telling the user that no copy
// could be made or started. Ends the process with exit code 1 when a ".local" redirection sits beside
// the program.
bool relaunchFromTemporaryCopy(UINT* exitCode);

// The user's own arguments on this process's command line: without the program name and without what
// the starting process appended for its copy. A copy that lives as long as the process.
wchar_t* userArguments();

// In a private copy: the path of the file the user started. False (buffer unchanged) elsewhere.
bool recoverLaunchPath(wchar_t* buffer, uint32_t capacity);

// In a private copy: the folder that holds the file the user started (its path up to, not including,
// the last backslash). False (buffer unchanged) elsewhere.
bool recoverLaunchFolder(wchar_t* buffer, uint32_t capacity);

// A relative target folder (see isRelativeFolder) is made absolute in place against the started file's
// folder (this program's own folder when it is no private copy). False (folder unchanged) when the
// result does not fit capacity units or no folder can be had.
bool resolveTargetFolder(wchar_t* folder, uint32_t capacity);

// The temporary folder in its long form, with a trailing backslash.
bool temporaryFolder(wchar_t* folder);
// Makes a new folder below folder, named by a tick count in hexadecimal, that only the user, SYSTEM and
// Administrators may enter; folder becomes its path (with a trailing backslash).
bool makeUniqueFolder(wchar_t* folder);
// Removes the folder and everything in it, read-only files too. A link inside is removed itself, never
// followed. False when anything stays.
bool deleteFolderTree(const wchar_t* folder);

#endif
