// Packs a folder into a ZipArchive: every folder and file below it, walked depth-first with the names
// of each folder sorted bytewise, so the same tree always gives the same order. Folder entries end in
// '/'. Names are UTF-8 with flag bit 11 when they are not plain ASCII. Times are the DOS date and time
// of each item's modification time in local time. Files are deflated (raw deflate, kept stored when
// that is not smaller) or stored, and optionally encrypted with the traditional ZIP encryption: a
// 12-byte header (11 random bytes, then the CRC-32's high byte) before the data, counted in the
// compressed size. No data descriptors are written.
//
// Files are read and deflated by several threads, each taking the next file in archive order; each
// result goes to its own place, so the archive is the same bytes whatever the number of threads.
// Encryption (which draws random bytes and keeps its keys in one global state) runs afterwards, in order.
#ifndef AKSFX_FOLDER_PACKER_H
#define AKSFX_FOLDER_PACKER_H

#include <filesystem>
#include <string>
#include <vector>

#include "exclude_rules.h"
#include "zip_model.h"

// Compression levels of --level: 1 (fastest) to 12 (smallest). With libdeflate every level is its own;
// with zlib (the Windows tool) levels above 9 act as 9.
enum : int { MIN_DEFLATE_LEVEL = 1, MAX_DEFLATE_LEVEL = 12, DEFAULT_DEFLATE_LEVEL = 10 };

// The one place that picks the compressor (chosen when building: libdeflate when found, else zlib).
// Returns the raw deflate stream (no zlib wrapper) of data at level, or nothing when that stream would
// not be smaller than data. Safe to call from several threads at once.
std::vector<uint8_t> deflateFile(const std::vector<uint8_t>& data, int level);

// The compressor deflateFile uses: "libdeflate" or "zlib".
const char* deflateLibrary();

struct FolderPackOptions {
    bool store = false;
    int level = DEFAULT_DEFLATE_LEVEL;
    unsigned workers = 0; // threads that deflate files; 0 = one per hardware thread
    bool encrypt = false;
    std::string password; // bytes used as the key; must be ASCII (the stub reads the typed one in the ANSI code page)
    std::vector<ExcludePattern> excludes; // --exclude: items left out, with everything below them
    ExcludeStyle excludeStyle = hostExcludeStyle();
    bool followLinks = false;             // --follow-links: pack what links outside the folder point to
};

// Symbolic links (and on Windows junctions) are never stored as links: the self-extracting file cannot
// make them. Every link is resolved to its final target, and:
// - a link that points nowhere (dangling, or a loop of links) is refused with its path;
// - a link whose target lies outside the folder is refused with its path, unless followLinks;
// - otherwise the link is packed as what it points to: a file with that file's contents, a folder with
//   that folder's tree, under the link's own name;
// - a folder reached a second time on the way down (a link to a folder that holds it) is a loop and is
//   refused with its path; the number of entries bounds what links to other folders can copy.
// Excluded items are passed over before any of this, so an excluded link is never followed.
//
// Throws BuildError for an unreadable item, a file of 2 GiB or more, a name the stub refuses, two names
// that are one file or folder on Windows, a refused link, or more entries than an end record without
// ZIP64 counts.
ZipArchive packFolder(const std::filesystem::path& root, const FolderPackOptions& options);

// One file entry from its contents (also used by the tests to make small archives).
ZipEntry makeFileEntry(const std::string& name, const std::vector<uint8_t>& contents, uint32_t dosDateTime,
                       const FolderPackOptions& options);

#endif
