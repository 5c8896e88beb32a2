// Writing a ZIP archive as a spanned set: one piece per disk.
//
// Format notes (all integers little-endian):
// - The first piece begins with the spanning signature 50 4B 07 08; when the whole archive fits one piece,
//   producers write the marker 50 4B 30 30 there instead.
// - Offsets count from the start of the piece that holds the record: a central header names the disk
//   (counted from 0) of its local header and that header's offset in the disk's piece; the end record
//   names its own disk (the last), the disk where the central directory starts, the number of central
//   headers on the last disk and in all, the directory's size and its offset on its starting disk.
// - Records are never split: a local header with its name and extra field, a central header and the end
//   record each lie wholly on one piece; only an entry's data runs on into the next piece.
// What the stub needs beyond that (it reads the set front to back and steps over records on the piece
// it is on):
// - the 12-byte encryption header is read from the piece of its local header, so it stays there;
// - after the data of an entry with a data descriptor the stub steps 16 bytes forward on the piece where
//   the data ended, so the descriptor travels with at least the last byte of the data;
// - the data of a folder entry is stepped over on the piece of its header, so it stays there whole.
#ifndef AKSFX_ZIP_SPAN_H
#define AKSFX_ZIP_SPAN_H

#include <stdint.h>
#include <vector>

#include "zip_model.h"

struct SpanLimits {
    uint32_t firstCapacity; // bytes the first piece may take
    uint32_t capacity;      // bytes every further piece may take
    uint32_t firstBase;     // file offset of the first piece's byte 0 (the piece may follow a program)
};

enum : uint32_t {
    ZIP_SPANNING_SIGNATURE = 0x08074B50,
    ZIP_SINGLE_PIECE_MARKER = 0x30304B50,
    SPAN_MAX_DISKS = 999, // labels "PKBACK# 001" to "PKBACK# 999" fit the 11 characters of a FAT label
};

// The pieces in disk order. Throws BuildError when a record does not fit an empty piece or the set
// needs more than SPAN_MAX_DISKS disks.
std::vector<std::vector<uint8_t>> writeSpannedZip(const ZipArchive& archive, const SpanLimits& limits);

#endif
