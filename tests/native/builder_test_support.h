// Fixtures shared by the building tool's tests: a minimal PE32 stub made in memory, ZIP archives built
// field by field, temporary folders and calls of independent tools (Info-ZIP, 7z, python, osslsigncode).
#ifndef AKSFX_BUILDER_TEST_SUPPORT_H
#define AKSFX_BUILDER_TEST_SUPPORT_H

#include <stdint.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "builder/pe_image.h"
#include "startup/payload_format.h"

namespace builder_test {

namespace fs = std::filesystem;

inline void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) { writeLe16(&v[at], x); }
inline void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { writeLe32(&v[at], x); }
inline void add16(std::vector<uint8_t>& v, uint32_t x) { v.push_back((uint8_t)x); v.push_back((uint8_t)(x >> 8)); }
inline void add32(std::vector<uint8_t>& v, uint32_t x) { add16(v, x & 0xFFFF); add16(v, x >> 16); }
inline void addText(std::vector<uint8_t>& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }

struct StubShape {
    int signatures = 1;          // copies of the parameter block signature in .data
    bool thirdSection = false;   // a third section header fills the table up to the first section's data
    bool junkAfterTable = false; // the bytes after the section table are in use
    bool signedStub = false;     // a certificate table entry
    bool pe32Plus = false;       // the x86-64 form: a 240-byte optional header, section table at 0x188
};

// A PE32 (or PE32+) with .text (one RET at 0x1000, the entry point) and .data (the block at file offset 0x400).
// File alignment 0x200, section alignment 0x1000, headers 0x200 bytes, PE header at 0x80.
inline std::vector<uint8_t> makeFakeStub(const StubShape& shape = StubShape())
{
    std::vector<uint8_t> f(0x600, 0);
    f[0] = 'M';
    f[1] = 'Z';
    put32(f, 0x3C, 0x80);                       // e_lfanew
    put32(f, 0x80, 0x00004550);                 // "PE\0\0"
    const bool plus = shape.pe32Plus;
    put16(f, 0x84, plus ? 0x8664 : 0x14C);      // Machine x86-64 or i386
    put16(f, 0x86, shape.thirdSection ? 3 : 2); // NumberOfSections
    put16(f, 0x94, plus ? 240 : 224);           // SizeOfOptionalHeader
    put16(f, 0x96, plus ? 0x0022 : 0x0102);     // executable, large addresses or 32-bit
    const size_t o = 0x98;                      // optional header
    put16(f, o + 0, plus ? 0x20B : 0x10B);      // PE32+ or PE32
    put32(f, o + 4, 0x200);                     // SizeOfCode
    put32(f, o + 8, 0x200);                     // SizeOfInitializedData
    put32(f, o + 16, 0x1000);                   // AddressOfEntryPoint
    put32(f, o + 20, 0x1000);                   // BaseOfCode
    if (plus) {
        put32(f, o + 28, 1);                    // ImageBase 0x140000000 (8 bytes from +24)
        put32(f, o + 24, 0x40000000);
    } else {
        put32(f, o + 24, 0x2000);               // BaseOfData
        put32(f, o + 28, 0x400000);             // ImageBase
    }
    put32(f, o + 32, 0x1000);                   // SectionAlignment
    put32(f, o + 36, 0x200);                    // FileAlignment
    put16(f, o + 40, 4);                        // MajorOperatingSystemVersion
    put16(f, o + 48, 4);                        // MajorSubsystemVersion
    put32(f, o + 56, shape.thirdSection ? 0x4000 : 0x3000); // SizeOfImage
    put32(f, o + 60, 0x200);                    // SizeOfHeaders
    put16(f, o + 68, 2);                        // Subsystem: GUI
    const size_t sizes = plus ? 8 : 4;          // stack and heap, reserve and commit
    put32(f, o + 72, 0x100000);
    put32(f, o + 72 + sizes, 0x1000);
    put32(f, o + 72 + 2 * sizes, 0x100000);
    put32(f, o + 72 + 3 * sizes, 0x1000);
    const size_t directories = plus ? o + 112 : o + 96;
    put32(f, directories - 4, 16);              // NumberOfRvaAndSizes
    const size_t t = directories + 16 * 8;      // section table at 0x178 (PE32) or 0x188 (PE32+)
    auto section = [&](size_t at, const char* name, uint32_t vsize, uint32_t va, uint32_t rawSize, uint32_t raw,
                       uint32_t flags) {
        for (int i = 0; i < 8 && name[i]; i++)
            f[at + i] = (uint8_t)name[i];
        put32(f, at + 8, vsize);
        put32(f, at + 12, va);
        put32(f, at + 16, rawSize);
        put32(f, at + 20, raw);
        put32(f, at + 36, flags);
    };
    section(t, ".text", 0x10, 0x1000, 0x200, 0x200, 0x60000020);
    section(t + 40, ".data", 0x100, 0x2000, 0x200, 0x400, 0xC0000040);
    if (shape.thirdSection)
        section(t + 80, ".bss", 0x100, 0x3000, 0, 0, 0xC0000080);
    if (shape.junkAfterTable)
        f[t + 80 + 3] = 0xCC;
    f[0x200] = 0xC3; // RET
    const uint8_t signature[8] = SFX_BLOCK_SIGNATURE_BYTES;
    for (int i = 0; i < shape.signatures; i++)
        std::copy(signature, signature + 8, f.begin() + 0x400 + 0x80 * i);
    if (shape.signedStub) {
        put32(f, directories + 4 * 8, 0x600);   // certificate table: file offset
        put32(f, directories + 4 * 8 + 4, 8);   // and size
        f.resize(0x608, 0);
    }
    return f;
}

// One entry of a hand-made archive. Fields left at AUTO take the value that matches the data.
const uint32_t AUTO = 0xA5A5A5A5u;
struct FixtureEntry {
    std::string name = "a.txt";
    std::string data = "hello";   // written as the entry's data, whatever the method says
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = AUTO;
    uint32_t compressedSize = AUTO;
    uint32_t uncompressedSize = AUTO;
    uint16_t diskStart = 0;
    uint32_t localSignature = 0x04034B50;
    uint32_t localOffsetDelta = 0; // added to the recorded local header offset
    bool streamed = false;         // bit 3: zeros in the local header, a 12-byte unsigned descriptor after the data
    const char* localName = nullptr; // the local header's name when it differs from the central one
    uint32_t localCrc = AUTO;      // the local header's CRC when it differs from the central one
    uint32_t descriptorCrc = AUTO; // the descriptor's CRC when it differs from the central one
    std::string centralComment;
    std::string localExtra;        // extra fields, written as they are
    std::string centralExtra;
};

struct FixtureEnd {
    std::string prefix;           // bytes in front of the first local header (offsets not adjusted)
    uint16_t thisDisk = 0;
    uint16_t centralDisk = 0;
    uint32_t entriesHere = AUTO;
    uint32_t entries = AUTO;
    uint32_t centralOffset = AUTO;
    std::string comment;
    bool zip64Locator = false;    // a ZIP64 end-of-central-directory locator before the end record
    std::string centralTail;      // bytes after the last central header, counted in the directory's size
};

inline std::vector<uint8_t> makeZip(const std::vector<FixtureEntry>& entries, const FixtureEnd& end = FixtureEnd())
{
    std::vector<uint8_t> z;
    addText(z, end.prefix);
    std::vector<uint32_t> offsets;
    auto pick = [](uint32_t v, uint32_t automatic) { return v == AUTO ? automatic : v; };
    for (const FixtureEntry& e : entries) {
        uint32_t crc = pick(e.crc, (uint32_t)crc32(0, (const Bytef*)e.data.data(), (uInt)e.data.size()));
        offsets.push_back((uint32_t)(z.size() - end.prefix.size()) + e.localOffsetDelta);
        add32(z, e.localSignature);
        add16(z, 20);                                              // version needed
        add16(z, e.flags | (e.streamed ? 0x8 : 0));                // general purpose flags
        add16(z, e.method);                                        // method
        add16(z, 0x6000);                                          // time 12:00:00
        add16(z, 0x5021);                                          // date 2020-01-01
        add32(z, e.streamed ? 0 : pick(e.localCrc, crc));          // CRC-32
        add32(z, e.streamed ? 0 : pick(e.compressedSize, (uint32_t)e.data.size())); // compressed size
        add32(z, e.streamed ? 0 : pick(e.uncompressedSize, (uint32_t)e.data.size()));
        const std::string localName = e.localName ? e.localName : e.name;
        add16(z, (uint32_t)localName.size());                      // name length
        add16(z, (uint32_t)e.localExtra.size());                   // extra length
        addText(z, localName);
        addText(z, e.localExtra);
        addText(z, e.data);
        if (e.streamed) {                                          // descriptor without its optional signature
            add32(z, pick(e.descriptorCrc, crc));
            add32(z, pick(e.compressedSize, (uint32_t)e.data.size()));
            add32(z, pick(e.uncompressedSize, (uint32_t)e.data.size()));
        }
    }
    uint32_t centralStart = (uint32_t)(z.size() - end.prefix.size());
    for (size_t i = 0; i < entries.size(); i++) {
        const FixtureEntry& e = entries[i];
        uint32_t crc = pick(e.crc, (uint32_t)crc32(0, (const Bytef*)e.data.data(), (uInt)e.data.size()));
        add32(z, 0x02014B50);
        add16(z, 20);                                              // made by
        add16(z, 20);                                              // version needed
        add16(z, e.flags | (e.streamed ? 0x8 : 0));
        add16(z, e.method);
        add16(z, 0x6000);
        add16(z, 0x5021);
        add32(z, crc);
        add32(z, pick(e.compressedSize, (uint32_t)e.data.size()));
        add32(z, pick(e.uncompressedSize, (uint32_t)e.data.size()));
        add16(z, (uint32_t)e.name.size());
        add16(z, (uint32_t)e.centralExtra.size());                 // extra length
        add16(z, (uint32_t)e.centralComment.size());               // comment length
        add16(z, e.diskStart);                                     // disk number start
        add16(z, 0);                                               // internal attributes
        add32(z, 0);                                               // external attributes
        add32(z, offsets[i]);                                      // local header offset
        addText(z, e.name);
        addText(z, e.centralExtra);
        addText(z, e.centralComment);
    }
    addText(z, end.centralTail);
    uint32_t centralSize = (uint32_t)(z.size() - end.prefix.size()) - centralStart;
    if (end.zip64Locator) {
        add32(z, 0x07064B50);                                      // locator signature
        add32(z, 0);                                               // disk of the ZIP64 end record
        add32(z, 0);                                               // its offset (low, high)
        add32(z, 0);
        add32(z, 1);                                               // disks
    }
    add32(z, 0x06054B50);
    add16(z, end.thisDisk);
    add16(z, end.centralDisk);
    add16(z, pick(end.entriesHere, (uint32_t)entries.size()));
    add16(z, pick(end.entries, (uint32_t)entries.size()));
    add32(z, centralSize);
    add32(z, pick(end.centralOffset, centralStart));
    add16(z, (uint32_t)end.comment.size());
    addText(z, end.comment);
    return z;
}

// A fresh folder below the system's temporary folder, removed with the object.
struct TempDir {
    fs::path path;
    TempDir()
    {
        static int counter = 0;
        path = fs::temp_directory_path() / ("aksfx-builder-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path operator/(const std::string& name) const { return path / name; }
};

inline void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

inline void writeFile(const fs::path& path, const std::string& text)
{
    writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a shell command with its output into log (appended); returns the exit status.
inline int run(const std::string& command, const fs::path& log)
{
    int status = std::system((command + " >>'" + log.string() + "' 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool haveTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string logText(const fs::path& log)
{
    std::vector<uint8_t> b = readFile(log);
    return std::string(b.begin(), b.end());
}

} // namespace builder_test

#endif
