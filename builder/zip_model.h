// The ZIP archive as the building tool holds it before writing it into a self-extracting file.
//
// Format notes (the facts the writer and the checks rely on; all integers little-endian):
// - Local header: 50 4B 03 04, version needed, flags, method, time, date, CRC-32, compressed size,
//   uncompressed size (u32 each), name length, extra length (u16), then name and extra field, then the
//   entry's data. The stub reads entries strictly in local-header order and takes the sizes and CRC from
//   the local header, also for an entry with flag bit 3 (data descriptor), whose 16-byte descriptor
//   (signature 50 4B 07 08, CRC, sizes) it steps over without reading it.
// - Central header: 50 4B 01 02, made by, version needed, flags, method, time, date, CRC, sizes, name,
//   extra and comment lengths, disk start, internal and external attributes, local header offset.
// - End record: 50 4B 05 06, disk numbers, entry counts, central directory size and offset, comment.
// - Flags: bit 0 traditional encryption, bit 3 data descriptor, bit 6 strong encryption, bit 11 UTF-8
//   name, bit 13 encrypted central directory.
// The stub converts every name from UTF-8, refuses a stored name over 263 bytes or a converted one over
// 259 units, and counts compressed sizes in a signed 32-bit integer.
#ifndef AKSFX_ZIP_MODEL_H
#define AKSFX_ZIP_MODEL_H

#include <stdint.h>
#include <string>
#include <vector>

enum : uint32_t {
    ZIP_LOCAL_SIGNATURE = 0x04034B50,
    ZIP_CENTRAL_SIGNATURE = 0x02014B50,
    ZIP_END_SIGNATURE = 0x06054B50,
    ZIP_DESCRIPTOR_SIGNATURE = 0x08074B50,
    ZIP64_END_SIGNATURE = 0x06064B50,
    ZIP64_LOCATOR_SIGNATURE = 0x07064B50,
    ZIP_LOCAL_HEADER_SIZE = 30,
    ZIP_CENTRAL_HEADER_SIZE = 46,
    ZIP_END_RECORD_SIZE = 22,
    ZIP_DESCRIPTOR_SIZE = 16,
};

enum : uint16_t {
    ZIP_FLAG_ENCRYPTED = 0x1,
    ZIP_FLAG_DESCRIPTOR = 0x8,
    ZIP_FLAG_STRONG_ENCRYPTION = 0x40,
    ZIP_FLAG_UTF8 = 0x800,
    ZIP_FLAG_CENTRAL_ENCRYPTED = 0x2000,
    ZIP_METHOD_STORED = 0,
    ZIP_METHOD_DEFLATED = 8,
    ZIP_METHOD_AES = 99,
};

enum : uint32_t {
    ZIP_NAME_MAX_UNITS = 259,       // converted name, terminator excluded
    ZIP_NAME_MAX_BYTES = 263,       // stored name
    ZIP_SIZE_LIMIT = 0x80000000u,   // sizes must stay below 2^31
    ZIP_MAX_ENTRIES = 0xFFFE,       // 0xFFFF in the end record announces ZIP64
};

struct ZipEntry {
    uint16_t versionMadeBy = 20;
    uint16_t versionNeeded = 20;
    uint16_t flags = 0;
    uint16_t method = ZIP_METHOD_STORED;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc = 0;
    uint32_t uncompressedSize = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    std::string name;          // the stored bytes
    std::string localExtra;    // kept verbatim
    std::string centralExtra;  // kept verbatim
    std::string comment;
    std::vector<uint8_t> data; // compressed data; starts with the 12-byte encryption header when encrypted
};

struct ZipArchive {
    std::vector<ZipEntry> entries;    // in the order of their local headers: the stub's extraction order
    std::vector<size_t> centralOrder; // entries' indexes in central directory order
    std::string comment;
};

// Little-endian field writers and the records of one entry, shared by the plain and the spanned writer.
void putLe16(std::vector<uint8_t>& out, uint32_t value);
void putLe32(std::vector<uint8_t>& out, uint32_t value);
void putBytes(std::vector<uint8_t>& out, const std::string& bytes);
// Local header with the CRC and sizes filled in, name and extra field.
std::vector<uint8_t> localHeaderRecord(const ZipEntry& e);
// The 16-byte signed data descriptor.
std::vector<uint8_t> descriptorRecord(const ZipEntry& e);
// Central directory header for an entry whose local header lies at localOffset on disk diskStart.
std::vector<uint8_t> centralHeaderRecord(const ZipEntry& e, uint16_t diskStart, uint32_t localOffset);

// Writes the archive as if it started at file offset base: local headers (each with the CRC and sizes
// filled in, and a 16-byte signed descriptor after the data of a bit-3 entry), the central directory
// and the end record, all offsets counted from base. endRecordPos receives the end record's position
// within the result (not counting base).
std::vector<uint8_t> writeZip(const ZipArchive& archive, uint32_t base, uint32_t* endRecordPos);
// The same bytes appended to out (endRecordPos counts from where they begin), and their number.
void appendZip(const ZipArchive& archive, uint32_t base, std::vector<uint8_t>& out, uint32_t* endRecordPos);
uint64_t zipSize(const ZipArchive& archive);

// Checks a stored name against the stub's limits; returns an empty string when it is fine, otherwise
// the reason. Names with bit 11 are UTF-8 (malformed UTF-8 is refused), others code page 437.
std::string checkEntryName(const std::string& name, uint16_t flags);

// True for the name of a folder entry: it ends in a separator ('/', or '\\' as some producers write it),
// which is how the stub tells folders from files.
bool isFolderEntryName(const std::string& name);

// An extra field without its Unicode Path blocks (id 0x7075): other ZIP tools take an entry's name from
// such a block, the stub takes the header's name, which is the one the tool checks; a second name that
// nothing checked must not survive. Blocks are id (u16), size (u16), data; a block that runs past the end
// is dropped with everything after it.
std::string withoutAlternateNames(const std::string& extra);

// Sum of the uncompressed sizes (the meter's 100 % mark).
uint64_t totalUncompressedSize(const ZipArchive& archive);

bool hasEncryptedEntry(const ZipArchive& archive);

#endif
