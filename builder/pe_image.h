// The PE facts the building tool needs to append a section and keep the executable valid.
//
// Format notes: the DOS header's u32 at 0x3C points to "PE\0\0"; a 20-byte file header follows
// (Machine, NumberOfSections at +2, SizeOfOptionalHeader at +16), then the optional header (magic 0x10B
// for PE32, 224 bytes; SizeOfInitializedData +8, AddressOfEntryPoint +16, SectionAlignment +32,
// FileAlignment +36, SizeOfImage +56, SizeOfHeaders +60, CheckSum +64, NumberOfRvaAndSizes +92, data
// directories from +96 with the resource table as entry 2 and the certificate table as entry 4). The
// x86-64 build of the stub is PE32+ (magic 0x20B, 240 bytes): the same fields up to +64, its 8-byte
// ImageBase and stack and heap sizes move NumberOfRvaAndSizes to +108 and the directories to +112.
// Then the section table of 40-byte entries (name 8, VirtualSize, VirtualAddress, SizeOfRawData,
// PointerToRawData, ..., Characteristics at +36). Raw sizes and raw offsets are
// multiples of FileAlignment; virtual addresses of SectionAlignment; SizeOfImage covers the last
// section rounded up to SectionAlignment.
//
// The checksum is the 16-bit ones' complement sum of the file's little-endian words (a last odd byte
// counts as a word), with the CheckSum field itself read as zero, plus the file length.
#ifndef AKSFX_PE_IMAGE_H
#define AKSFX_PE_IMAGE_H

#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

enum : uint32_t {
    PE_SECTION_HEADER_SIZE = 40,
    PE_OPTIONAL_HEADER_SIZE_PE32 = 224,
    PE_OPTIONAL_HEADER_SIZE_PE32_PLUS = 240,
    PE_MAGIC_PE32 = 0x10B,
    PE_MAGIC_PE32_PLUS = 0x20B,
    PE_SCN_INITIALIZED_DATA = 0x00000040,
    PE_SCN_MEM_READ = 0x40000000,
    PE_DIRECTORY_RESOURCE = 2,
};

struct PeSection {
    std::string name; // up to 8 bytes, trailing zeros removed
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t sizeOfRawData;
    uint32_t pointerToRawData;
};

struct PeLayout {
    uint32_t peOffset;             // "PE\0\0"
    uint32_t optionalHeaderOffset;
    uint32_t sectionTableOffset;
    uint16_t numberOfSections;
    uint32_t entryPoint;
    uint32_t sectionAlignment;
    uint32_t fileAlignment;
    uint32_t sizeOfImage;
    uint32_t sizeOfHeaders;
    uint32_t checksumOffset;       // file offset of the CheckSum field
    uint32_t directoryCount;       // NumberOfRvaAndSizes
    uint32_t directoriesOffset;    // file offset of the data directories: 8 bytes each (RVA, size)
    uint32_t certificateOffset;    // certificate table (a file offset), 0 when the file is not signed
    uint32_t certificateSize;
    std::vector<PeSection> sections;
};

// Reads the headers of a PE32 or PE32+ executable; throws BuildError naming what is wrong.
PeLayout parsePe(const std::vector<uint8_t>& file);

// The virtual address that a section appended after all present ones gets: the end of the highest
// section, rounded up to SectionAlignment.
uint32_t nextSectionAddress(const PeLayout& pe);

// Appends a section header for raw data already placed at rawOffset (rawSize bytes, both multiples of
// FileAlignment) and updates NumberOfSections, SizeOfImage and SizeOfInitializedData. Throws BuildError
// when the section table has no free, zero-filled room for one more header before the first section's
// data. Does not touch the checksum.
void appendSectionHeader(std::vector<uint8_t>& file, const PeLayout& pe, const char name[8], uint32_t rawOffset,
                         uint32_t rawSize);

uint32_t peChecksum(const uint8_t* data, size_t size, uint32_t checksumOffset);

inline uint32_t alignUp(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

void writeLe16(uint8_t* p, uint32_t v);
void writeLe32(uint8_t* p, uint32_t v);

#endif
