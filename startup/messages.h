// Texts of the program, message boxes, the stop mechanism and the internal-error report.
#ifndef AKSFX_MESSAGES_H
#define AKSFX_MESSAGES_H

#include <setjmp.h>
#include <windows.h>

#include "message_ids.h"

// The one saved context that a stop returns to: armed by the main function, re-armed by every
// extraction run. Stop value 1 = cancelled at an overwrite question, 2 = every other stop.
extern jmp_buf unwindPoint;
extern int internalErrorCount;

// The process's exit code, which scripts test: what start-up or the last extraction run came to.
enum RunOutcome : int {
    OUTCOME_SUCCESS = 0, // everything extracted, or nothing was tried
    OUTCOME_FAILED = 1,  // a damaged file, a read or write error, a refused name, an internal error
    OUTCOME_STOPPED = 2, // the user said no or cancel
    OUTCOME_KEPT = 3,    // a run without a failure that kept files at the overwrite question
};
extern int runOutcome;

enum : int { LOADED_TEXT_UNITS = 1402 };

// Loads string id (with '!' continuations) into the next of five rotating buffers.
const wchar_t* loadText(int id);

// Every box of the program: the text goes to the log (id: its string, 0 for a text of the file's own),
// and in silent mode no box is shown; the answer is then the one that risks nothing: OK, No, Cancel or
// Abort.
int messageBox(HWND owner, int id, const wchar_t* text, const wchar_t* caption, UINT style);

// Message box with the program's caption (string 2000), owned by mainDialogWindow.
int showMessage(int id, const wchar_t* text, UINT style);

// A dialog the run needs could not be made (DialogBoxParamW gave 0 or -1): the outcome is a failure, and a
// message box says so where one can still be shown.
void windowNotMade();

// Error box, then a stop with value 2; the outcome is a failure.
[[noreturn]] void fatalMessage(int id, const wchar_t* text);
[[noreturn]] void headerCorrupt();
// Stop with value 2 without a box, at the user's request (in silent mode, where no one is asked, a failure).
[[noreturn]] void abortRun();
[[noreturn]] void readError(int code);
[[noreturn]] void internalError(const wchar_t* module, int line);

// Formats a message into messageText; a result of 500 units or more is an internal error at line.
const wchar_t* formatMessageText(int line, const wchar_t* format, ...);

// Formats string id with its one %s, a path of up to a working path's length (longer than messageText
// holds), into a buffer of its own.
const wchar_t* formatPathMessage(int id, const wchar_t* path);

#define SFX_MODULE_NAME L"sfxhead"

#endif
