// Global state of the stub and the start-up operations. The program has one thread; all state lives for
// the whole process.
#ifndef AKSFX_SFXHEAD_H
#define AKSFX_SFXHEAD_H

#include <windows.h>

#include "payload_format.h"

extern StubParameterBlock parameterBlock;

extern HINSTANCE instanceHandle;
extern HCURSOR waitCursor;
extern HCURSOR arrowCursor;
extern DWORD systemVersion;

extern wchar_t programPath[PATH_UNITS];
extern wchar_t targetFolder[PATH_UNITS];
extern wchar_t headerCaption[CAPTION_UNITS];
extern wchar_t infoText[INFO_TEXT_UNITS];
extern wchar_t messageText[MESSAGE_TEXT_UNITS];
extern wchar_t* startupText; // null when the header has no start-up message
extern wchar_t runCommand[RUN_COMMAND_UNITS]; // the program to start after a complete run (SFXF_RUN_AFTER)

extern HWND parentWindow;
extern HWND mainDialogWindow;
extern int automaticMode;
extern int overwriteWithoutAsking;
extern int entryEncrypted;
extern int programAfterRun; // set when the dialog ends after a run that is to start the program

// Reads the AUTO/NOAUTO switch; sets automaticMode and targetFolder. Changes commandLine in place.
void parseAutoSwitch(wchar_t* commandLine);

// Start-up after the relaunch step: checks, options, start-up message, main dialog. commandLine holds
// the user's own arguments only. Returns the exit code (a RunOutcome).
int runStub(wchar_t* commandLine);

// Frees the work buffers, wipes the password and closes the archive and output files.
void releaseWorkState();

#endif
