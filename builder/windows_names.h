// When two entry names are one file on Windows. On Linux `a.txt` and `A.TXT` are two files; extracted on
// Windows the second overwrites the first, and a tool that lists the archive shows both. The building
// tool refuses such pairs, for ZIP input and for folder input alike.
//
// How Windows file systems (NTFS, FAT) take a name:
// - '/' and '\' both separate components; the stub drops one leading separator of an entry name, and a
//   folder entry ends in a separator;
// - trailing dots and blanks of a component are dropped;
// - names compare without regard to letter case: each UTF-16 unit is upper-cased through a fixed table
//   (upcase_table.h, made from the Unicode data: Latin, Greek, Cyrillic, Armenian and the other scripts
//   with letter case);
// - a name that is no valid 8.3 name (a base of 1-8 characters, an extension of up to 3, no blanks,
//   none of + , ; = [ ], plain ASCII) may get a second, short name from the system: the first characters
//   of its basis (the name upper-cased, blanks and every dot but the last dropped, + , ; = [ ] as '_'),
//   '~', a number, and the first three characters of its extension (`Setup-Program.exe`: SETUP-~1.EXE);
//   after a few of those, the basis's first two characters and four hexadecimal digits (SE3F2A~1.EXE).
//   Whoever opens the short name opens the long-named file or folder.
//
// So two entries are one file or folder when, component by component, their names compare equal, and a
// file and a folder clash when they have one name (the file `a` and the entry `a/b`, whose folder `a`
// Windows cannot make beside the file). Two folder entries of one name are one folder and harmless. A
// component shaped like a short name (up to six characters, '~', digits, an optional extension of up to
// three characters) clashes with a long name in the same folder that the system could give that short
// name: its basis begins with the part before '~' (also in the hashed form), and the first three
// characters of its extension are the short name's extension. Characters beyond ASCII count as '_'
// there, whatever the code page makes of them.
#ifndef AKSFX_WINDOWS_NAMES_H
#define AKSFX_WINDOWS_NAMES_H

#include <stddef.h>
#include <string>
#include <vector>

// The upper case of one UTF-16 unit (itself when it has none).
char16_t upcaseUnit(char16_t unit);

// The name as Windows compares it: components upper-cased, without their trailing dots and blanks,
// joined by '/'; no leading or trailing separator, no empty components.
std::u16string windowsNameKey(const std::u16string& name);

enum class NameClashKind { None, SameName, FileAndFolder, ShortName };

struct NameClash {
    NameClashKind kind = NameClashKind::None;
    size_t first = 0;  // index of the earlier entry
    size_t second = 0; // index of the later one
};

// The first clash among names (entry names in UTF-16 that the entry-name rule accepts, folder entries
// ending in a separator), or one of kind None. Holds a few times the names' total length.
NameClash findNameClash(const std::vector<std::u16string>& names);

// Throws BuildError with one line naming both entries when two of the names (UTF-8) are one file or
// folder on Windows.
void checkNamesAreDistinctOnWindows(const std::vector<std::string>& names);

#endif
