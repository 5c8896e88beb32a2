// Global state of the stub and the start-up operations. The program has one thread; all state lives for
// the whole process.
#ifndef AKSFX_SFXHEAD_H
#define AKSFX_SFXHEAD_H

#include <windows.h>

#include "command_line.h"
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
extern int silentMode;      // no window and no message box: SFXF_SILENT or /S
extern RunSwitches runSwitches;

// Reads the switches of unattended use from the user's arguments (blanking them out) and sets silentMode.
void readSwitches(wchar_t* arguments);

// Opens the log that /LOG= names, taken relative to the started file's folder; true without one. False
// after telling the user (the log cannot be made, or its path is too long).
bool startRunLog();

// Expands the environment variables in targetFolder. False when one is not set (or the result is too
// long): targetFolder is then unchanged, and with tell the user is told and the outcome is a failure.
bool expandTargetFolder(bool tell);

// The end of an extraction run that wrote or kept every entry: the outcome says whether files were kept,
// and the program after the run is due only when none was.
void finishCompleteRun();

// Reads the AUTO/NOAUTO switch; sets automaticMode and targetFolder. Changes commandLine in place.
void parseAutoSwitch(wchar_t* commandLine);

// Start-up after the relaunch step: checks, options, start-up message, main dialog. commandLine holds
// the user's own arguments only. Returns the exit code (a RunOutcome).
int runStub(wchar_t* commandLine);

// Frees the work buffers, wipes the password and closes the archive and output files.
void releaseWorkState();

#endif
