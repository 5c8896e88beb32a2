// Decoding and CRC-32 speed against zlib.
//
//   decode_bench [--level N] FILE...
// Each file is compressed once with zlib (raw deflate, level 6 unless given). Then the whole set is decoded
// repeatedly with this decoder (output through the window and the 2048-byte output buffer, copied to a flat
// buffer by the flush) and with zlib's inflate (into a flat buffer), and checksummed with crcRegisterUpdate
// and zlib's crc32. The best of several rounds is reported in MB/s of output (1 MB = 10^6 bytes).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "decode/crc32.h"
#include "decode/inflate.h"

namespace {

struct Item {
    std::string name;
    std::vector<uint8_t> data;
    std::vector<uint8_t> stream;
};

double now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

std::vector<uint8_t> readFile(const char* path)
{
    std::vector<uint8_t> v;
    FILE* f = fopen(path, "rb");
    if (!f)
        return v;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    if (size > 0) {
        v.resize((size_t)size);
        v.resize(fread(v.data(), 1, v.size(), f));
    }
    fclose(f);
    return v;
}

std::vector<uint8_t> rawDeflate(const std::vector<uint8_t>& data, int level)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// This decoder's plumbing: pieces of 2048 bytes in, 2048-byte flushes out into a flat buffer.
const std::vector<uint8_t>* currentStream;
size_t streamOffset;
uint8_t* flatOut;
size_t flatCount;
uint8_t window[INFLATE_WINDOW_SIZE];
uint8_t outputBuffer[OUTPUT_BUFFER_SIZE];

uint32_t readPiece(const uint8_t** piece)
{
    size_t n = currentStream->size() - streamOffset;
    if (n > 2048)
        n = 2048;
    *piece = currentStream->data() + streamOffset;
    streamOffset += n;
    return (uint32_t)n;
}

void flushOutput()
{
    memcpy(flatOut + flatCount, outputBuffer, inflateIo.outputCount);
    flatCount += inflateIo.outputCount;
    inflateIo.outputCount = 0;
}

bool decodeOurs(const Item& item, std::vector<uint8_t>& out)
{
    currentStream = &item.stream;
    streamOffset = 0;
    flatOut = out.data();
    flatCount = 0;
    inflateIo.outputCount = 0;
    if (inflate() != 0)
        return false;
    memcpy(flatOut + flatCount, outputBuffer, inflateIo.outputCount);
    flatCount += inflateIo.outputCount;
    return flatCount == item.data.size();
}

bool decodeZlib(const Item& item, std::vector<uint8_t>& out, z_stream* z)
{
    inflateReset(z);
    z->next_in = const_cast<Bytef*>(item.stream.data());
    z->avail_in = (uInt)item.stream.size();
    z->next_out = out.data();
    z->avail_out = (uInt)out.size();
    return ::inflate(z, Z_FINISH) == Z_STREAM_END && z->total_out == item.data.size();
}

} // namespace

int main(int argc, char** argv)
{
    int level = 6;
    std::vector<Item> items;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--level") == 0 && i + 1 < argc) {
            level = atoi(argv[++i]);
            continue;
        }
        Item item{argv[i], readFile(argv[i]), {}};
        if (!item.data.empty())
            items.push_back(std::move(item));
    }
    if (items.empty()) {
        fprintf(stderr, "decode_bench: no input files\n");
        return 2;
    }
    size_t total = 0, compressed = 0, largest = 0;
    for (Item& item : items) {
        item.stream = rawDeflate(item.data, level);
        total += item.data.size();
        compressed += item.stream.size();
        if (item.data.size() > largest)
            largest = item.data.size();
    }
    std::vector<uint8_t> out(largest + 16);

    buildCrcTable();
    inflateIo.readInput = readPiece;
    inflateIo.flushOutputBuffer = flushOutput;
    inflateIo.window = window;
    inflateIo.outputBuffer = outputBuffer;
    z_stream z;
    memset(&z, 0, sizeof z);
    inflateInit2(&z, -15);

    // Correctness first: both decoders must give back every file.
    for (const Item& item : items) {
        if (!decodeOurs(item, out) || memcmp(out.data(), item.data.data(), item.data.size()) != 0) {
            fprintf(stderr, "decode_bench: this decoder failed on %s\n", item.name.c_str());
            return 1;
        }
        if (!decodeZlib(item, out, &z)) {
            fprintf(stderr, "decode_bench: zlib failed on %s\n", item.name.c_str());
            return 1;
        }
    }

    const int rounds = 7;
    double bestOurs = 1e30, bestZlib = 1e30, bestCrc = 1e30, bestZlibCrc = 1e30;
    uint32_t sink = 0;
    for (int r = 0; r < rounds; r++) {
        double t = now();
        for (const Item& item : items)
            decodeOurs(item, out);
        bestOurs = std::min(bestOurs, now() - t);

        t = now();
        for (const Item& item : items)
            decodeZlib(item, out, &z);
        bestZlib = std::min(bestZlib, now() - t);

        t = now();
        for (const Item& item : items)
            sink ^= crcRegisterUpdate(0xFFFFFFFFu, item.data.data(), item.data.size());
        bestCrc = std::min(bestCrc, now() - t);

        t = now();
        for (const Item& item : items)
            sink ^= (uint32_t)crc32(0, item.data.data(), (uInt)item.data.size());
        bestZlibCrc = std::min(bestZlibCrc, now() - t);
    }
    inflateEnd(&z);

    double mb = total / 1e6;
    printf("corpus: %zu files, %.1f MB, deflated at level %d to %.1f MB (%s)\n", items.size(), mb, level,
           compressed / 1e6, zlibVersion());
    printf("inflate  this decoder %8.1f MB/s   zlib %8.1f MB/s   ratio %.2f\n", mb / bestOurs, mb / bestZlib,
           bestZlib / bestOurs);
    printf("crc-32   this decoder %8.1f MB/s   zlib %8.1f MB/s   ratio %.2f\n", mb / bestCrc, mb / bestZlibCrc,
           bestZlibCrc / bestCrc);
    return sink == 0x12345678u ? 3 : 0; // keeps the CRC loops from being optimised away
}
