#include "pe_image.h"

#include "../startup/payload_format.h"
#include "build_error.h"

#include <algorithm>

enum : uint32_t {
    FILE_HEADER_SIZE = 20,
    OPT_SIZE_OF_INITIALIZED_DATA = 8,
    OPT_ENTRY_POINT = 16,
    OPT_SECTION_ALIGNMENT = 32,
    OPT_FILE_ALIGNMENT = 36,
    OPT_SIZE_OF_IMAGE = 56,
    OPT_SIZE_OF_HEADERS = 60,
    OPT_CHECKSUM = 64,
    PE32_DIRECTORY_COUNT = 92,
    PE32_PLUS_DIRECTORY_COUNT = 108,
    DIRECTORY_CERTIFICATE = 4,
};

void writeLe16(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

void writeLe32(uint8_t* p, uint32_t v)
{
    writeLe16(p, v & 0xFFFF);
    writeLe16(p + 2, v >> 16);
}

static void fail(const std::string& what)
{
    throw BuildError("stub is not a usable PE32 or PE32+ executable: " + what);
}

static bool isPowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

PeLayout parsePe(const std::vector<uint8_t>& f)
{
    PeLayout pe = {};
    if (f.size() < 64 || f[0] != 'M' || f[1] != 'Z')
        fail("no MZ header");
    pe.peOffset = readLe32(&f[PE_NEW_HEADER_FIELD]);
    if (pe.peOffset > f.size() || f.size() - pe.peOffset < PE_NT_HEADERS_SIZE
        || readLe32(&f[pe.peOffset]) != 0x00004550)
        fail("no PE signature");
    if (pe.peOffset % 8 != 0)
        fail("PE header not on an 8-byte boundary");
    const uint8_t* fileHeader = &f[pe.peOffset + 4];
    pe.numberOfSections = readLe16(fileHeader + 2);
    uint16_t optionalSize = readLe16(fileHeader + 16);
    pe.optionalHeaderOffset = pe.peOffset + 4 + FILE_HEADER_SIZE;
    const uint8_t* opt = &f[pe.optionalHeaderOffset];
    uint32_t countField;
    if (readLe16(opt) == PE_MAGIC_PE32 && optionalSize == PE_OPTIONAL_HEADER_SIZE_PE32)
        countField = PE32_DIRECTORY_COUNT;
    else if (readLe16(opt) == PE_MAGIC_PE32_PLUS && optionalSize == PE_OPTIONAL_HEADER_SIZE_PE32_PLUS
             && f.size() - pe.peOffset >= 4 + FILE_HEADER_SIZE + PE_OPTIONAL_HEADER_SIZE_PE32_PLUS)
        countField = PE32_PLUS_DIRECTORY_COUNT;
    else
        fail("neither a PE32 optional header of 224 bytes nor a PE32+ one of 240");
    pe.entryPoint = readLe32(opt + OPT_ENTRY_POINT);
    pe.sectionAlignment = readLe32(opt + OPT_SECTION_ALIGNMENT);
    pe.fileAlignment = readLe32(opt + OPT_FILE_ALIGNMENT);
    pe.sizeOfImage = readLe32(opt + OPT_SIZE_OF_IMAGE);
    pe.sizeOfHeaders = readLe32(opt + OPT_SIZE_OF_HEADERS);
    pe.checksumOffset = pe.optionalHeaderOffset + OPT_CHECKSUM;
    // Sixteen directories fill the optional header; a larger count would point past it.
    pe.directoryCount = std::min<uint32_t>(readLe32(opt + countField), (optionalSize - countField - 4) / 8);
    pe.directoriesOffset = pe.optionalHeaderOffset + countField + 4;
    if (pe.directoryCount > DIRECTORY_CERTIFICATE) {
        pe.certificateOffset = readLe32(&f[pe.directoriesOffset + DIRECTORY_CERTIFICATE * 8]);
        pe.certificateSize = readLe32(&f[pe.directoriesOffset + DIRECTORY_CERTIFICATE * 8 + 4]);
    }
    if (!isPowerOfTwo(pe.fileAlignment) || pe.fileAlignment < 512 || pe.fileAlignment > 65536
        || !isPowerOfTwo(pe.sectionAlignment) || pe.sectionAlignment < pe.fileAlignment)
        fail("unusual file or section alignment");
    pe.sectionTableOffset = pe.optionalHeaderOffset + optionalSize;
    if ((uint64_t)pe.sectionTableOffset + (uint64_t)pe.numberOfSections * PE_SECTION_HEADER_SIZE > f.size())
        fail("section table runs past the end of the file");
    if (pe.numberOfSections == 0)
        fail("no sections");
    for (uint32_t i = 0; i < pe.numberOfSections; i++) {
        const uint8_t* s = &f[pe.sectionTableOffset + i * PE_SECTION_HEADER_SIZE];
        PeSection section;
        section.name.assign((const char*)s, 8);
        section.name.resize(section.name.find('\0') == std::string::npos ? 8 : section.name.find('\0'));
        section.virtualSize = readLe32(s + 8);
        section.virtualAddress = readLe32(s + 12);
        section.sizeOfRawData = readLe32(s + 16);
        section.pointerToRawData = readLe32(s + 20);
        if (section.sizeOfRawData != 0
            && (uint64_t)section.pointerToRawData + section.sizeOfRawData > f.size())
            fail("section " + section.name + " runs past the end of the file");
        pe.sections.push_back(section);
    }
    return pe;
}

uint32_t nextSectionAddress(const PeLayout& pe)
{
    uint32_t next = 0;
    for (const PeSection& s : pe.sections) {
        uint32_t extent = s.virtualSize != 0 ? s.virtualSize : s.sizeOfRawData;
        uint32_t end = alignUp(s.virtualAddress + extent, pe.sectionAlignment);
        if (end > next)
            next = end;
    }
    return next;
}

void appendSectionHeader(std::vector<uint8_t>& f, const PeLayout& pe, const char name[8], uint32_t rawOffset,
                         uint32_t rawSize)
{
    // The new header must fit below SizeOfHeaders and below every section's raw data, and the space
    // must be unused (zero): some linkers keep bound-import data right after the section table.
    uint32_t firstRaw = pe.sizeOfHeaders;
    for (const PeSection& s : pe.sections)
        if (s.sizeOfRawData != 0 && s.pointerToRawData < firstRaw)
            firstRaw = s.pointerToRawData;
    const uint32_t nextVirtual = nextSectionAddress(pe);
    uint32_t slot = pe.sectionTableOffset + pe.numberOfSections * PE_SECTION_HEADER_SIZE;
    if (slot + PE_SECTION_HEADER_SIZE > firstRaw)
        throw BuildError("stub has no room for one more section header before its first section");
    for (uint32_t i = 0; i < PE_SECTION_HEADER_SIZE; i++)
        if (f[slot + i] != 0)
            throw BuildError("stub has no free room for one more section header (the bytes after its section table are in use)");

    uint8_t* s = &f[slot];
    for (int i = 0; i < 8; i++)
        s[i] = (uint8_t)name[i];
    writeLe32(s + 8, rawSize);          // VirtualSize
    writeLe32(s + 12, nextVirtual);     // VirtualAddress
    writeLe32(s + 16, rawSize);         // SizeOfRawData
    writeLe32(s + 20, rawOffset);       // PointerToRawData
    writeLe32(s + 36, PE_SCN_INITIALIZED_DATA | PE_SCN_MEM_READ);

    writeLe16(&f[pe.peOffset + 4 + 2], pe.numberOfSections + 1u);
    uint8_t* opt = &f[pe.optionalHeaderOffset];
    writeLe32(opt + OPT_SIZE_OF_IMAGE, alignUp(nextVirtual + rawSize, pe.sectionAlignment));
    writeLe32(opt + OPT_SIZE_OF_INITIALIZED_DATA, readLe32(opt + OPT_SIZE_OF_INITIALIZED_DATA) + rawSize);
}

uint32_t peChecksum(const uint8_t* data, size_t size, uint32_t checksumOffset)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2)
            continue;
        uint32_t word = data[i];
        if (i + 1 < size)
            word |= (uint32_t)data[i + 1] << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + (uint32_t)size;
}
