// Fuzz target for the inflate decoder, checked against zlib.
//
// Input layout: byte 0 picks the input piece size (1..256 bytes, or 2048) and the byte that precedes the
// entry (lastByte); the rest is the deflate stream. Each piece is copied to the end of its own heap block,
// so the address sanitizer reports any read past a piece.
// Properties: inflate terminates without a sanitizer report on any input; every flush holds exactly 2048
// bytes; whenever zlib decodes the stream to its end, this decoder returns 0 with the same bytes and,
// by inflateUnusedInput, takes the stream to end where zlib does (the bytes after it are left unused).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <vector>

#include "decode/huffman.h"
#include "decode/inflate.h"

namespace {

const uint8_t* streamData;
size_t streamSize;
size_t streamOffset;
size_t pieceSize;
uint8_t* piece;
std::vector<uint8_t> produced;
uint8_t window[INFLATE_WINDOW_SIZE];
uint8_t outputBuffer[OUTPUT_BUFFER_SIZE];
const size_t outputLimit = 1 << 21;

uint32_t readPiece(const uint8_t** out)
{
    free(piece);
    piece = nullptr;
    size_t n = streamSize - streamOffset;
    if (n > pieceSize)
        n = pieceSize;
    if (n == 0)
        return 0;
    piece = (uint8_t*)malloc(n);
    memcpy(piece, streamData + streamOffset, n);
    streamOffset += n;
    *out = piece;
    return (uint32_t)n;
}

void flushOutput()
{
    if (inflateIo.outputCount != OUTPUT_BUFFER_SIZE)
        abort();
    if (produced.size() < outputLimit)
        produced.insert(produced.end(), outputBuffer, outputBuffer + OUTPUT_BUFFER_SIZE);
    inflateIo.outputCount = 0;
}

// True when zlib reaches the end of the stream (within outputLimit bytes of output); *used receives the
// length of the stream.
bool zlibDecodes(const uint8_t* data, size_t size, std::vector<uint8_t>* out, size_t* used)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    out->clear();
    uint8_t chunk[65536];
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = (uInt)size;
    int r;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        r = ::inflate(&z, Z_NO_FLUSH);
        out->insert(out->end(), chunk, chunk + (sizeof chunk - z.avail_out));
    } while (r == Z_OK && z.avail_out == 0 && out->size() < outputLimit);
    *used = size - z.avail_in;
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t control = data[0];
    streamData = data + 1;
    streamSize = size - 1;
    streamOffset = 0;
    pieceSize = (control & 0x80) ? OUTPUT_BUFFER_SIZE : 1 + (size_t)(control & 0x7f) * 2;
    produced.clear();
    memset(window, 0, sizeof window);
    lastByte = (uint16_t)(control * 37 & 0xff);

    inflateIo.readInput = readPiece;
    inflateIo.flushOutputBuffer = flushOutput;
    inflateIo.window = window;
    inflateIo.outputBuffer = outputBuffer;
    inflateIo.outputCount = 0;
    int result = inflate();
    size_t used = streamOffset - (result == 0 ? inflateUnusedInput() : 0);
    free(piece);
    piece = nullptr;
    if (result < 0 || result > 3)
        abort();
    if (produced.size() < outputLimit)
        produced.insert(produced.end(), outputBuffer, outputBuffer + inflateIo.outputCount);

    std::vector<uint8_t> expected;
    size_t zlibUsed = 0;
    if (zlibDecodes(streamData, streamSize, &expected, &zlibUsed) && expected.size() < outputLimit) {
        if (result != 0 || produced != expected || used != zlibUsed)
            abort();
    }
    return 0;
}
