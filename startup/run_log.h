// The log of a run (/LOG=path): one UTF-8 line per event, written as it happens, so that a script can
// read what a run did without a window. Lines begin with what happened:
//   written PATH            a file entry was written
//   folder PATH             a folder entry's folder was made, or was there
//   kept PATH               an existing file was kept at the overwrite question
//   refused NAME            an entry's name or file was refused; the message line after it says why
//   cancelled PATH          the run stopped in the middle of this entry; nothing of it was left behind
//   failed PATH             the run failed in the middle of this entry
//   message ID TEXT         a message that was shown, or would have been in silent mode (ID 0: a text of
//                           the file's own, such as the start-up message or the build options)
//   started COMMAND         the program started after the run
//   program exit code N     its exit code, when the file waits for it
//   exit code N             the file's own exit code, the last line
// Line breaks inside a text become blanks.
#ifndef AKSFX_RUN_LOG_H
#define AKSFX_RUN_LOG_H

#include <stdint.h>
#include <wchar.h>

// Creates the log anew at path (a full path); false when it cannot be made.
bool openRunLog(const wchar_t* path);
bool runLogOpen();

// One line: kind, a blank and text. Nothing without a log.
void logEvent(const wchar_t* kind, const wchar_t* text);
void logMessage(int id, const wchar_t* text);
void logNumber(const wchar_t* kind, long n);

#endif
