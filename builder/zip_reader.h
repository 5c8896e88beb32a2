// Reads a ZIP archive from any producer into a ZipArchive, refusing what the stub cannot extract.
//
// The end record is found by a backward scan over the last 65,557 bytes (its comment may be up to 65,535
// bytes); the central directory then names every entry, and each local header is read at its recorded
// offset. When bytes were put in front of an archive without adjusting its offsets (a prefix), every
// offset is off by the prefix's length: the central directory then sits right before the end record
// instead of where the end record says, and that difference is applied to all local offsets.
//
// The archive is rebuilt from these pieces rather than copied, so that the result is something the
// stub's front-to-back walk reads: nothing before the first local header, no gaps between entries, and
// a signed 16-byte descriptor after the data of every bit-3 entry (whose local header also gets the
// CRC and sizes, since the stub takes them from there).
//
// Nothing in the input is trusted: what the stub extracts is exactly what the central directory lists
// and every other ZIP tool shows. The end record is the last one in the file, as other tools take it,
// and what is copied without decoding (the archive comment, entry comments, extra fields) holds no ZIP
// record signature, so that no tool finds a second archive in it. No two entries may be one file or
// folder on Windows (windows_names.h). Before any data is read, the end record must count every central
// header, every entry's bytes (local header, name, extra field, data, data descriptor) must lie inside
// the file, before the central directory and apart from every other entry's, and the local header must
// agree with the central one (name, method, flags, CRC and sizes). Then each entry's data is decoded and must give exactly the declared size and CRC,
// with nothing after the end of a deflate stream. A folder entry keeps no data: its data may only
// decode to nothing. Entries with traditional encryption cannot be decoded (a ZIP file carries no
// password): of them only the encryption header's presence, a stored entry's exact size and their
// place are checked.
#ifndef AKSFX_ZIP_READER_H
#define AKSFX_ZIP_READER_H

#include <stdint.h>
#include <string>
#include <vector>

#include "zip_model.h"

// Throws BuildError with one line (without the file name) for malformed or inconsistent input and for
// every refusal: ZIP64, spanned or multi-disk archives, methods other than stored and deflated, AES or
// strong encryption, an encrypted central directory, over-long or unsafe names, sizes of 2^31 or more.
// Holds at most the input's size in entry data besides the input itself.
ZipArchive readZipArchive(const std::vector<uint8_t>& bytes);

// One entry as the central directory and its local header describe it, before any of its data is read.
struct ZipEntryPlace {
    ZipEntry entry;          // all but the data
    std::string storedName;  // the central header's name bytes, before any conversion
    size_t centralIndex;
    uint32_t compressedSize;
    uint64_t localOffset;    // corrected for a prefix
    uint64_t dataStart;
    uint64_t recordEnd;      // the entry takes [localOffset, recordEnd): header, name, extra, data, descriptor
};

// The first stage of readZipArchive: every check that reads no entry data. Entries in local-header
// order (the stub's). Throws BuildError as readZipArchive does.
struct ZipDirectory {
    std::vector<ZipEntryPlace> entries;
    std::string comment;
};
ZipDirectory readZipDirectory(const std::vector<uint8_t>& bytes);

// The second stage, for one entry of that directory: what is wrong with its data, as one sentence that
// names the entry; empty when it decodes to exactly its declared size and CRC. An entry with the
// traditional encryption is decrypted with *password when one is given (its check byte must fit);
// without one only what needs no password is checked.
std::string entryDataProblem(const std::vector<uint8_t>& bytes, const ZipEntryPlace& place,
                             const std::string* password);

#endif
