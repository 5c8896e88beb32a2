// Decodes an entry's data the way an extractor would, without keeping what it produces, so that the
// building tool can compare the result with the sizes and CRC-32 its headers declare.
//
// Format notes:
// - Method 0 (stored): the data is the file; its length is the uncompressed size.
// - Method 8 (deflated): the data is one raw deflate stream (RFC 1951, no zlib wrapper) that ends with
//   the block whose BFINAL bit is set. Bytes after that block are not part of the stream; a producer
//   never writes them inside the compressed size.
// - The CRC-32 (polynomial 0xEDB88320, the one zlib computes) covers the uncompressed bytes.
// An entry with traditional encryption cannot be decoded without the password: those are not passed here.
#ifndef AKSFX_ZIP_DATA_CHECK_H
#define AKSFX_ZIP_DATA_CHECK_H

#include <stddef.h>
#include <stdint.h>

enum class DecodeOutcome {
    Complete,         // the data decodes completely, with nothing left over
    PastDeclaredSize, // the output passed the declared size; decoding stopped there
    Damaged,          // the deflate stream is not valid
    CutShort,         // the compressed data ends before the deflate stream does
    TrailingBytes,    // the deflate stream ends before the compressed data does
};

struct DecodedData {
    DecodeOutcome outcome;
    uint64_t size;        // bytes produced (at most declaredSize + 1)
    uint32_t crc;         // CRC-32 of those bytes
    size_t trailingBytes; // with TrailingBytes: compressed bytes after the stream's end
};

// Decodes data of method 0 or 8 through a small buffer (nothing of the size of the entry is held) and
// stops as soon as the output passes declaredSize. Deflated data of no bytes at all is taken as an empty
// file, as extractors do. Throws std::bad_alloc when zlib cannot get its state.
DecodedData decodeEntryData(uint16_t method, const uint8_t* data, size_t size, uint32_t declaredSize);

#endif
