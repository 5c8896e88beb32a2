// The building tool's few OS calls, kept apart from its rules: whole-file reads and writes (with wide
// paths on Windows), the DOS time of a file in local time, the tool's own folder, and random bytes.
// Paths are held as std::filesystem::path and made from UTF-8 text with pathFromUtf8.
#ifndef AKSFX_HOST_FILES_H
#define AKSFX_HOST_FILES_H

#include <stddef.h>
#include <stdint.h>
#include <filesystem>
#include <string>
#include <vector>

std::filesystem::path pathFromUtf8(const std::string& text);
std::string pathToUtf8(const std::filesystem::path& path);

// Both throw BuildError ("cannot read PATH: reason").
std::vector<uint8_t> readWholeFile(const std::filesystem::path& path);
// The same without throwing for a file that cannot be read: false, with the reason ("No such file or
// directory") in *reason.
bool tryReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>* bytes, std::string* reason);
// The file's first limit bytes, or all of it when it is shorter: for a file that is refused when it is
// larger than limit - 1 bytes, without holding more of it.
std::vector<uint8_t> readFileStart(const std::filesystem::path& path, size_t limit);
void writeWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Last modification time of a file or folder as a DOS date (high 16 bits) and time (low 16 bits) in
// local time, clamped to the DOS range 1980-2107. Throws BuildError when the time cannot be read.
uint32_t fileDosDateTime(const std::filesystem::path& path);

// The path of an existing file or folder with every symbolic link (and on Windows junction), "." and ".."
// resolved, absolute. Empty, with the reason in *reason, when it cannot be resolved: it does not exist,
// a link on the way points nowhere, or links form a loop.
std::filesystem::path realPath(const std::filesystem::path& path, std::string* reason);

// realPath of a path that need not exist: the nearest existing folder above it resolved, and the rest
// of the path (which holds no links, since it does not exist) appended and normalised.
std::filesystem::path resolvedPath(const std::filesystem::path& path);

// Whether the item itself (not what it points to) is a symbolic link, or on Windows a junction or
// another name-surrogate reparse point. expectedReal is the real path the item has when it is no link:
// the real path of its folder and its own name. Windows needs it: Wine lists a link to a folder with the
// reparse attribute but no tag, and a link to a file as a plain file, so there an item whose resolved
// path is another than expectedReal counts as a link too.
bool isLink(const std::filesystem::path& path, const std::filesystem::path& expectedReal);

// Whether names of this system's files compare without regard to letter case (Windows).
bool hostIgnoresCase();

// Folder of the running executable; empty when it cannot be found.
std::filesystem::path ownExecutableFolder();

// Fills buffer with bytes from the system's random source; throws BuildError when there is none.
void fillRandom(uint8_t* buffer, size_t count);

// Packs broken-down local time into DOS date << 16 | time, clamped to 1980-01-01 .. 2107-12-31 23:59:58.
uint32_t packDosDateTime(int year, int month, int day, int hour, int minute, int second);

#endif
