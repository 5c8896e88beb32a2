// Reads back a self-extracting file: its parameter block, flags, header texts, and the three checks the
// stub makes at start-up (header CRC, entry point, end record), each recomputed the way the stub does.
// Then its entries, each decoded and checked as --test does (archive_check.h), and what its resources
// say: the icon group, the version resource, the manifest's execution level, and whether the file
// carries an Authenticode signature (a certificate table in the PE headers).
#ifndef AKSFX_SFX_CHECK_H
#define AKSFX_SFX_CHECK_H

#include <stdint.h>
#include <string>
#include <vector>

struct InspectResult {
    std::string report;   // the printable report, several lines
    std::string failures; // names of the failed checks, comma-separated; empty when all check out
};

// Throws BuildError when the file holds no parameter block at all. password (may be null) decrypts
// encrypted entries for the data check.
InspectResult inspectSelfExtractor(const std::vector<uint8_t>& file, const std::string* password = nullptr);

// Names of the set SFXF_* flags, blank-separated; unknown bits as a hex value.
std::string flagNames(uint32_t flags);

#endif
