// Walking the archive front to back: signature, record, next signature. Entries are extracted in the
// order of their local headers; the central directory is only checked for its names' lengths.
#ifndef AKSFX_WALK_H
#define AKSFX_WALK_H

#include <stdint.h>

#pragma pack(push, 1)
// The 26 bytes after a local header's signature, as they stand in the file (little-endian).
struct LocalHeader {
    uint16_t versionNeeded;
    uint16_t flags;
    uint16_t method;
    uint16_t time;
    uint16_t date;
    uint32_t crc32;
    int32_t compressedSize; // counted down as the entry's data is consumed: the bytes still unread
    uint32_t uncompressedSize;
    uint16_t nameLength;
    uint16_t extraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalHeader) == 26, "the fixed part of a local header is 26 bytes");

enum : uint32_t {
    ENTRY_PATH_UNITS = 272,
    STORED_NAME_MAX = 263,  // bytes of a stored name
    CONVERTED_NAME_MAX = 260, // UTF-16 units of a converted name, terminator included
};

extern LocalHeader localHeader;
extern wchar_t entryPath[ENTRY_PATH_UNITS];
extern int entryHasDescriptor;

void walkArchive();
void readLocalHeader();

#endif
