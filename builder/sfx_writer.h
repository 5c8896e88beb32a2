// Joins a stub and a ZIP archive into a self-extracting file.
//
// Layout of the result:
//   [stub as it was][zeros up to FileAlignment]  [section "_arklet_": SfxHeader, ZIP archive]
// The new last section starts on a FileAlignment boundary and its raw size is a multiple of it. The
// padding that this needs goes in front of the SfxHeader (inside the section), so that the file ends
// exactly with the ZIP end record and archive tools find nothing after it. The ZIP's offsets count from
// the start of the file. Then the StubParameterBlock is filled in, the header CRC computed over the
// chosen range, and the PE checksum recomputed.
//
// The full CRC range (from offset 0) contains the PE CheckSum field, and the PE checksum covers the
// stored header CRC, so neither can simply be computed after the other. The tool settles it this way:
// the padding goes after the ZIP instead (in the section's tail, outside the CRC range), the checksum
// is computed with headerCrc 0 and stored, the CRC is computed over a range that already holds that
// final checksum, and a 16-bit balancing word in the tail makes the file's word sum what it was before
// the CRC was stored, so the checksum stays right. The result is checked by recomputing both.
#ifndef AKSFX_SFX_WRITER_H
#define AKSFX_SFX_WRITER_H

#include <stdint.h>
#include <string>
#include <vector>

#include "zip_model.h"

enum class CrcRange { AfterHeaders, Full, None };

struct SfxSettings {
    std::u16string folder;   // header text 1
    std::u16string runCommand; // header text 2: the program started after the run (with SFXF_RUN_AFTER)
    std::u16string message;  // header text 3
    std::u16string caption;  // header text 4 (kept by the stub only with SFXF_HAS_CAPTION)
    std::u16string info;     // header text 5
    uint32_t flags = 0;      // SFXF_* option bits; the tool adds SFXF_ASK_PASSWORD and SFXF_CRC_AFTER_HEADERS
    CrcRange crc = CrcRange::AfterHeaders;
};

// The SfxHeader: five UTF-16LE texts, each with a 16-bit terminator. Throws UsageError
// when a text is longer than the stub's buffer for it or the header exceeds 2,512 bytes.
std::vector<uint8_t> buildSfxHeader(const SfxSettings& settings);

// Throws BuildError for a stub it cannot use (not PE32, no or a doubled parameter block, signed, no
// room for a section header) and for a result of 2 GiB or more.
std::vector<uint8_t> buildSelfExtractor(const std::vector<uint8_t>& stub, const ZipArchive& archive,
                                        const SfxSettings& settings);

// A spanned set: the program for the first disk and the volume file of every disk, in disk order. With
// .EXE volumes volumes[0] is the program itself; with .ZIP volumes the first disk holds both.
struct SpannedSet {
    std::vector<uint8_t> program;
    std::vector<std::vector<uint8_t>> volumes;
};

// span is the room on each disk: the files of one disk take at most that many bytes together. Throws
// BuildError when the stub and header leave no room on the first disk, or a record does not fit a disk.
SpannedSet buildSpannedSet(const std::vector<uint8_t>& stub, const ZipArchive& archive, const SfxSettings& settings,
                           uint32_t span, bool zipVolumes);

// Position of the parameter block: the signature must occur exactly once. Throws BuildError otherwise.
uint32_t findUniqueBlock(const std::vector<uint8_t>& stub);

extern const uint8_t blockSignature[8];
extern const char sfxSectionName[8];

#endif
