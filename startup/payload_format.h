// Layout of a self-extracting file and the pure rules that check it.
//
// A self-extracting file is the stub executable, then (inside its last PE section) the SfxHeader and a
// ZIP archive whose offsets count from the start of the file. The stub learns where everything is from
// the StubParameterBlock, a packed 58-byte record in its initialised data that the building tool
// overwrites. All integers are little-endian.
//
// SfxHeader: five UTF-16LE texts, each ended by a 16-bit zero, nothing between them. It starts at
// headerOffset and ends exactly at archiveOffset.
//
// This header is shared by the stub and the building tool; it holds no OS calls.
#ifndef AKSFX_PAYLOAD_FORMAT_H
#define AKSFX_PAYLOAD_FORMAT_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#pragma pack(push, 1)
struct StubParameterBlock {
    uint8_t signature[8];     // "QVR" 01 "sfx" 02; occurs exactly once in the stub's image
    uint32_t headerCrc;       // CRC-32 of the checked range; 0 = no check
    uint32_t archiveOffset;   // first local header; end of the SfxHeader and of the CRC range
    uint32_t headerOffset;    // start of the SfxHeader; 0 = none
    uint32_t endRecordOffset; // end-of-central-directory record; 0 = not checked
    uint32_t totalSize;       // sum of uncompressed sizes: the meter's 100 % mark
    uint32_t flags;           // SFXF_* bits
    uint32_t reserved1;
    uint32_t reserved2;
    uint16_t reserved3;
    uint16_t completeMarker;  // non-zero once the building tool has finished the file
    uint32_t reserved4;
    uint32_t reserved5;
    uint16_t reserved6;
    uint32_t entryPoint;      // expected AddressOfEntryPoint of the optional header
};
#pragma pack(pop)

static_assert(sizeof(StubParameterBlock) == 58, "the block is 58 packed bytes");
static_assert(offsetof(StubParameterBlock, headerCrc) == 8, "layout");
static_assert(offsetof(StubParameterBlock, archiveOffset) == 12, "layout");
static_assert(offsetof(StubParameterBlock, headerOffset) == 16, "layout");
static_assert(offsetof(StubParameterBlock, endRecordOffset) == 20, "layout");
static_assert(offsetof(StubParameterBlock, totalSize) == 24, "layout");
static_assert(offsetof(StubParameterBlock, flags) == 28, "layout");
static_assert(offsetof(StubParameterBlock, completeMarker) == 42, "layout");
static_assert(offsetof(StubParameterBlock, entryPoint) == 54, "layout");

// Initialiser of the signature. Only the stub's block and the building tool spell it out: a second copy
// in the stub's image would make the block ambiguous.
#define SFX_BLOCK_SIGNATURE_BYTES {'Q', 'V', 'R', 0x01, 's', 'f', 'x', 0x02}

enum : uint32_t {
    SFXF_OVERWRITE_DEFAULT = 0x2,
    SFXF_HAS_CAPTION = 0x10,
    SFXF_ASK_PASSWORD = 0x100,
    SFXF_AUTO = 0x200,
    SFXF_CRC_AFTER_HEADERS = 0x800,
    SFXF_SPANNED = 0x1000,
    SFXF_EXE_VOLUMES = 0x8000,
    SFXF_SETUP_TITLE = 0x40000,
    SFXF_STARTUP_ASK = 0x80000,
    SFXF_STARTUP_OKCANCEL = 0x100000,
    SFXF_RUN_AFTER = 0x1000000, // start the program of header text 2 after a complete run
    SFXF_RUN_WAIT = 0x2000000,  // with SFXF_RUN_AFTER: wait for it; its exit code becomes the stub's
    SFXF_SILENT = 0x4000000,    // run silently by default: no window, no message box
};

// Offsets inside the PE headers that the checks rely on.
enum : uint32_t {
    PE_NEW_HEADER_FIELD = 0x3C,     // u32 in the DOS header: offset of the "PE\0\0" signature
    PE_NT_HEADERS_SIZE = 248,       // signature 4 + file header 20 + optional header 224 (PE32)
    PE_ENTRY_POINT_FIELD = 40,      // AddressOfEntryPoint, counted from the PE signature
};

// Buffer sizes in UTF-16 units, terminator included.
enum : uint32_t {
    SFX_HEADER_MAX_BYTES = 2512,
    PATH_UNITS = 261,
    STARTUP_TEXT_UNITS = 514,
    CAPTION_UNITS = 65,
    INFO_TEXT_UNITS = 512,
    MESSAGE_TEXT_UNITS = 500,
    RUN_COMMAND_UNITS = 520,
};

inline uint32_t readLe32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline uint16_t readLe16(const uint8_t* p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

// First position p (0 <= p <= length - 8) where the eight signature bytes stand, or -1.
long findBlockSignature(const uint8_t* data, uint32_t length, const uint8_t signature[8]);

// Computes the header CRC over the checked prefix of a file held in data[0, length): finds the block by
// its signature, treats its four headerCrc bytes as zero, and starts at 0 or, with afterHeaders, at the
// section table. Returns false when the signature is missing, the block does not fit, or the PE header
// offset points outside the prefix. Needs the CRC table (crc32.h).
bool computeHeaderCrc(const uint8_t* data, uint32_t length, const uint8_t signature[8], bool afterHeaders,
                      uint32_t* crcOut);

// The five texts of an SfxHeader, already limited to their buffers.
struct SfxTexts {
    wchar_t targetFolder[PATH_UNITS];
    wchar_t runCommand[RUN_COMMAND_UNITS]; // text 2; empty when it does not fit (only read with SFXF_RUN_AFTER)
    wchar_t startupText[STARTUP_TEXT_UNITS];
    wchar_t caption[CAPTION_UNITS];
    wchar_t infoText[INFO_TEXT_UNITS];
};

// Parses an SfxHeader of length bytes. The caption is kept only with hasCaption. Returns false for a
// damaged header: over 2,512 bytes, a text longer than its buffer, or no fifth terminator. Bytes after
// the fifth terminator are ignored. On false, out is left all empty.
bool parseSfxHeader(const uint8_t* data, uint32_t length, bool hasCaption, SfxTexts* out);

#endif
