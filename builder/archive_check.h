// --test and the entry list of --inspect: every entry of a self-extracting file's archive (or of a plain
// .zip) decoded as the stub would extract it, and compared with its headers.
//
// The archive is read as the building tool reads ZIP input (zip_reader.h): a structural fault (a header
// out of place, entries that overlap, what the stub cannot extract) stops the check with one line. Then
// each entry's data is decoded and its size and CRC-32 compared; one line per entry says what it is and
// how it came out:
//   "docs/notes.txt"  5000 bytes, 61 compressed, deflated: ok
//   "secret.txt"  12 bytes, 24 compressed, stored, encrypted, data not checked (no --password)
//   "b.txt"  5 bytes, 5 compressed, stored: DAMAGED: entry "b.txt" has CRC-32 12345678 but declares ...
// An encrypted entry is checked only with a password; without one its structure is, and that is no damage.
#ifndef AKSFX_ARCHIVE_CHECK_H
#define AKSFX_ARCHIVE_CHECK_H

#include <stdint.h>
#include <string>
#include <vector>

struct ArchiveCheck {
    std::vector<std::string> lines; // one per entry, in the stub's order, each starting with two blanks
    size_t ok = 0;
    size_t notChecked = 0;          // encrypted, no password
    size_t damaged = 0;
    std::string firstDamage;        // the first damaged entry's sentence
    std::string summary() const;    // "3 entries: 2 ok, 1 damaged, 0 not checked (encrypted)"
};

// Checks the archive in file, whose first local header must lie at archiveStart when that is not 0 (a
// self-extracting file's parameter block says where the stub begins to read). password may be null.
// Throws BuildError with one line for a structural fault.
ArchiveCheck checkArchive(const std::vector<uint8_t>& file, uint32_t archiveStart, const std::string* password);

// --test FILE: the report (entry lines and the summary) and the exit status's reason. A self-extracting
// file is told from a plain .zip by its "MZ" start and its parameter block. Throws UsageError for a
// spanned set's program (the archive lies on other disks) and BuildError for a structural fault.
struct TestOutcome {
    std::string report;
    std::string failure; // empty when every entry checked out or was not checked; else one line
};
TestOutcome testArchiveFile(const std::vector<uint8_t>& file, const std::string* password);

#endif
