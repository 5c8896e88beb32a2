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

enum : int { LOADED_TEXT_UNITS = 1402 };

// Loads string id (with '!' continuations) into the next of five rotating buffers.
const wchar_t* loadText(int id);

// Message box with the program's caption (string 2000), owned by mainDialogWindow.
int showMessage(const wchar_t* text, UINT style);

[[noreturn]] void fatalMessage(const wchar_t* text);
[[noreturn]] void headerCorrupt();
[[noreturn]] void abortRun();
[[noreturn]] void readError(int code);
[[noreturn]] void internalError(const wchar_t* module, int line);

// Formats a message into messageText; a result of 500 units or more is an internal error at line.
const wchar_t* formatMessageText(int line, const wchar_t* format, ...);

#define SFX_MODULE_NAME L"sfxhead"

#endif
