// Packs a folder into a ZipArchive: every folder and file below it, walked depth-first with the names
// of each folder sorted bytewise, so the same tree always gives the same order. Folder entries end in
// '/'. Names are UTF-8 with flag bit 11 when they are not plain ASCII. Times are the DOS date and time
// of each item's modification time in local time. Files are deflated (zlib raw deflate, kept stored when
// that is not smaller) or stored, and optionally encrypted with the traditional ZIP encryption: a
// 12-byte header (11 random bytes, then the CRC-32's high byte) before the data, counted in the
// compressed size. No data descriptors are written.
#ifndef AKSFX_FOLDER_PACKER_H
#define AKSFX_FOLDER_PACKER_H

#include <filesystem>
#include <string>

#include "zip_model.h"

struct FolderPackOptions {
    bool store = false;
    bool encrypt = false;
    std::string password; // bytes used as the key; must be ASCII (the stub reads the typed one in the ANSI code page)
};

// Throws BuildError for an unreadable item, a file of 2 GiB or more, a name the stub refuses, or more
// entries than an end record without ZIP64 counts.
ZipArchive packFolder(const std::filesystem::path& root, const FolderPackOptions& options);

// One file entry from its contents (also used by the tests to make small archives).
ZipEntry makeFileEntry(const std::string& name, const std::vector<uint8_t>& contents, uint32_t dosDateTime,
                       const FolderPackOptions& options);

#endif
