#include "folder_packer.h"

#include <zlib.h>

#include <algorithm>

#include "../decode/cipher.h"
#include "../decode/crc32.h"
#include "build_error.h"
#include "host_files.h"
#include "unicode_text.h"

namespace fs = std::filesystem;

// Entries are marked as made on a Unix host (version 2.0), with Unix modes in the high half of the
// external attributes and the DOS attribute in the low byte: Info-ZIP unzip converts the names of
// entries from DOS or NTFS hosts from the OEM code page even when flag bit 11 says UTF-8.
enum : uint32_t {
    MADE_BY_UNIX_20 = 3 << 8 | 20,
    FILE_ATTRIBUTES = 0100644u << 16 | 0x20,   // rw-r--r--, DOS archive bit
    FOLDER_ATTRIBUTES = 0040755u << 16 | 0x10, // rwxr-xr-x, DOS folder bit
    ENCRYPTION_HEADER_SIZE = 12,
};

// Raw deflate (no zlib wrapper) at the best compression; empty when it would not be smaller.
static std::vector<uint8_t> deflateRaw(const std::vector<uint8_t>& input)
{
    z_stream z = {};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw BuildError("zlib could not start deflate");
    std::vector<uint8_t> out(deflateBound(&z, (uLong)input.size()));
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = (uInt)input.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int result = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        throw BuildError("zlib deflate failed");
    if (out.size() >= input.size())
        out.clear();
    return out;
}

ZipEntry makeFileEntry(const std::string& name, const std::vector<uint8_t>& contents, uint32_t dosDateTime,
                       const FolderPackOptions& options)
{
    ZipEntry e;
    e.name = name;
    e.flags = isAscii(name) ? 0 : ZIP_FLAG_UTF8;
    e.time = (uint16_t)dosDateTime;
    e.date = (uint16_t)(dosDateTime >> 16);
    e.versionMadeBy = MADE_BY_UNIX_20;
    e.externalAttributes = FILE_ATTRIBUTES;
    e.crc = (uint32_t)crc32(0L, contents.data(), (uInt)contents.size());
    e.uncompressedSize = (uint32_t)contents.size();
    std::vector<uint8_t> packed = (options.store || contents.empty()) ? std::vector<uint8_t>() : deflateRaw(contents);
    if (packed.empty()) {
        e.method = ZIP_METHOD_STORED;
        packed = contents;
    } else {
        e.method = ZIP_METHOD_DEFLATED;
    }
    if (options.encrypt) {
        e.flags |= ZIP_FLAG_ENCRYPTED;
        uint8_t header[ENCRYPTION_HEADER_SIZE];
        fillRandom(header, ENCRYPTION_HEADER_SIZE - 1);
        header[ENCRYPTION_HEADER_SIZE - 1] = encryptionCheckByte(e.flags, e.crc, e.time);
        initKeys(options.password.c_str());
        encryptBuffer(header, ENCRYPTION_HEADER_SIZE);
        encryptBuffer(packed.data(), (uint32_t)packed.size());
        e.data.assign(header, header + ENCRYPTION_HEADER_SIZE);
        e.data.insert(e.data.end(), packed.begin(), packed.end());
    } else {
        e.data = std::move(packed);
    }
    return e;
}

static void checkName(const std::string& name)
{
    std::string problem = checkEntryName(name, isAscii(name) ? 0 : ZIP_FLAG_UTF8);
    if (!problem.empty())
        throw BuildError(quotedForMessage(name) + ": " + problem);
}

// Adds the items of one folder (prefix: its name inside the archive, empty or ending in '/').
static void addFolder(const fs::path& folder, const std::string& prefix, const FolderPackOptions& options,
                      ZipArchive* archive)
{
    std::vector<std::pair<std::string, fs::path>> items;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        items.emplace_back(pathToUtf8(it->path().filename()), it->path());
    if (error)
        throw BuildError("cannot list " + pathToUtf8(folder) + ": " + error.message());
    std::sort(items.begin(), items.end());

    for (const auto& item : items) {
        const fs::path& path = item.second;
        std::string name = prefix + item.first;
        // status() follows symbolic links; a link loop ends at the name length limit.
        fs::file_status status = fs::status(path, error);
        if (error)
            throw BuildError("cannot read " + pathToUtf8(path) + ": " + error.message());
        if (fs::is_directory(status)) {
            name += '/';
            checkName(name);
            ZipEntry e;
            e.name = name;
            e.flags = isAscii(name) ? 0 : ZIP_FLAG_UTF8;
            uint32_t dosTime = fileDosDateTime(path);
            e.time = (uint16_t)dosTime;
            e.date = (uint16_t)(dosTime >> 16);
            e.versionMadeBy = MADE_BY_UNIX_20;
            e.externalAttributes = FOLDER_ATTRIBUTES;
            archive->entries.push_back(std::move(e));
            addFolder(path, name, options, archive);
        } else if (fs::is_regular_file(status)) {
            checkName(name);
            uintmax_t size = fs::file_size(path, error);
            if (error)
                throw BuildError("cannot read " + pathToUtf8(path) + ": " + error.message());
            if (size >= ZIP_SIZE_LIMIT)
                throw BuildError(pathToUtf8(path) + " is 2 GiB or larger");
            std::vector<uint8_t> contents = readWholeFile(path);
            if (contents.size() >= ZIP_SIZE_LIMIT)
                throw BuildError(pathToUtf8(path) + " is 2 GiB or larger");
            archive->entries.push_back(makeFileEntry(name, contents, fileDosDateTime(path), options));
        } else {
            throw BuildError(pathToUtf8(path) + " is neither a file nor a folder");
        }
        if (archive->entries.size() > ZIP_MAX_ENTRIES)
            throw BuildError("more than 65534 items: the archive would need ZIP64");
    }
}

ZipArchive packFolder(const fs::path& root, const FolderPackOptions& options)
{
    buildCrcTable();
    ZipArchive archive;
    addFolder(root, std::string(), options, &archive);
    for (size_t i = 0; i < archive.entries.size(); i++)
        archive.centralOrder.push_back(i);
    return archive;
}
