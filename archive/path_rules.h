// Pure rules for output paths: separators, joining an entry name to the target folder, where folder
// creation starts, which entry names are refused, DOS time clamping, and the meter position.
//
// Entry names come from the archive and are not trusted. A name is refused (the run stops with the
// "cannot create" message naming it) when, after one leading separator is dropped, it could reach outside
// the target folder or land somewhere other than it says:
//   - a component "..", or any component made of dots and blanks only;
//   - a drive prefix or any ':' (which would also name an alternate data stream);
//   - an empty component (two separators in a row, so no UNC path either), except the final one of a
//     folder entry;
//   - a component that ends in '.' or ' ' (the system would silently drop them);
//   - a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$; the superscripts 1, 2 and 3
//     count as digits), with or without extension, also with blanks before the extension ("CON .txt");
//   - control characters and < > " | ? *;
//   - U+FFFD, the replacement character that a name which is no valid UTF-8 decodes to.
// The same rule applies to file and folder entries, and the building tool refuses such names too.
#ifndef AKSFX_PATH_RULES_H
#define AKSFX_PATH_RULES_H

#include <stdint.h>
#include <wchar.h>

enum : uint32_t {
    OUTPUT_PATH_MAX = 260,  // characters of a full output path
    WORK_PATH_UNITS = 517,  // working paths: 516 characters and the terminator
};

inline bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The position after the last separator found at index 1 or later, else the start of the path.
const wchar_t* fileNamePart(const wchar_t* path);

// Appends '\' when path is empty or does not end in a separator. False when it does not fit.
bool appendSeparator(wchar_t* path, uint32_t capacity);

// A target folder that names no drive and does not begin with a separator ("out", ".", "..\x",
// "sub\map"). Such a folder is taken relative to the folder of the file the user started: the current
// folder of the working process is its private folder, which is removed after the run.
bool isRelativeFolder(const wchar_t* folder);

// base joined with the relative folder into out (capacity units; out may be folder itself): "." and
// leading ".\" pieces name base itself. False (out unchanged) when the result does not fit.
bool resolveRelativeFolder(const wchar_t* base, const wchar_t* folder, wchar_t* out, uint32_t capacity);

// A target folder may name environment variables: "%NAME%", NAME one or more characters without '%', '\\',
// '/' or ':', is replaced by the variable's value when the file runs; "%%" stands for one '%'; any other
// '%' is kept as it is. A variable that is not set is an error, never a literal folder name.
enum ExpandResult { EXPAND_DONE, EXPAND_UNKNOWN, EXPAND_TOO_LONG };

// Looks up a variable: its value into value (capacity units); false when it is not set or does not fit.
typedef bool (*VariableLookup)(const wchar_t* name, wchar_t* value, uint32_t capacity);

// Expands folder into out (capacity units; out must not be folder). EXPAND_UNKNOWN puts the name of the
// variable that is not set into unknown (capacity units, cut if longer); EXPAND_TOO_LONG when the
// result does not fit.
ExpandResult expandFolderVariables(const wchar_t* folder, VariableLookup lookup, wchar_t* out, uint32_t capacity,
                                   wchar_t* unknown, uint32_t unknownCapacity);

// True when the entry name may be extracted (see above).
bool entryNameIsSafe(const wchar_t* name);

// Joins folder (already ending in a separator, or empty) and the entry name without one leading
// separator into out (capacity OUTPUT_PATH_MAX + 1), turning '/' into '\'. False when the result would
// exceed OUTPUT_PATH_MAX characters.
bool joinOutputPath(const wchar_t* folder, const wchar_t* name, wchar_t* out);

// Index in path where folder creation starts: past "\\server\share\" for a UNC path, past one leading
// separator otherwise.
uint32_t folderScanStart(const wchar_t* path);

// How much of a path's folders is known to exist: the length of the longest start of path, at most limit
// units long and ending just after a separator, that the folder known (knownLength units, ending with a
// separator) starts with too; 0 when there is none. Compared unit for unit, not ignoring case.
uint32_t knownFolderPrefix(const wchar_t* path, uint32_t limit, const wchar_t* known, uint32_t knownLength);

// A file that an entry replaces is written first under a temporary name in its own folder and moved over
// the old one only after the entry has checked out. The name is ".aksfx" with the 8 hexadecimal digits of
// serial (the process id) and the 4 of count (a counter the caller moves on at every attempt), then ".tmp":
// no name of an entry is ever made under it, and one left by a process that ended in the middle names its
// maker. It is no longer than the file's own name, or than what makes the whole path
// TEMPORARY_PATH_SHORT characters, whichever is more: a path the system takes for the file itself is one
// it takes for its temporary twin. Where the full name does not fit, the last hexadecimal digits (as many
// as fit) follow a '.', or stand alone when only one character fits; the caller's CREATE_NEW and its
// bounded attempts make up for the shorter name.
enum : uint32_t { TEMPORARY_PATH_SHORT = 240, TEMPORARY_NAME_FULL = 22 };

// Writes into out (capacity OUTPUT_PATH_MAX + 1) the temporary path beside path, a file's path (it does
// not end in a separator) of at most OUTPUT_PATH_MAX characters.
void temporaryPathBeside(const wchar_t* path, uint32_t serial, uint32_t count, wchar_t* out);

// DOS time and date with out-of-range fields clamped: seconds/2 <= 29, minutes <= 59, hours <= 23,
// day >= 1, month 1..12; the year is kept.
void clampDosDateTime(uint16_t* date, uint16_t* time);

// Meter position for bytesDone of totalSize (100 = done). A totalSize of 0 shows 100.
uint32_t meterPosition(uint32_t bytesDone, uint32_t totalSize);

#endif
