// Helpers for the decoder tests: a bit writer for hand-made deflate streams, a harness that runs inflate()
// over a byte vector and records every flush, and zlib as the reference compressor.
#ifndef AKSFX_DECODE_TEST_SUPPORT_H
#define AKSFX_DECODE_TEST_SUPPORT_H

#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/inflate.h"

namespace decodetest {

// Writes deflate fields least significant bit first; Huffman codes most significant bit first.
class BitWriter {
public:
    BitWriter& bits(uint32_t value, int count)
    {
        for (int i = 0; i < count; i++)
            push((value >> i) & 1);
        return *this;
    }
    BitWriter& code(uint32_t code, int length)
    {
        for (int i = length - 1; i >= 0; i--)
            push((code >> i) & 1);
        return *this;
    }
    BitWriter& alignToByte()
    {
        while (used_ != 0)
            push(0);
        return *this;
    }
    BitWriter& byte(uint8_t b)
    {
        return bits(b, 8);
    }
    // Fixed-code helpers (RFC 1951, 3.2.6).
    BitWriter& fixedLiteral(unsigned symbol)
    {
        if (symbol < 144)
            return code(0x30 + symbol, 8);
        if (symbol < 256)
            return code(0x190 + symbol - 144, 9);
        if (symbol < 280)
            return code(symbol - 256, 7);
        return code(0xC0 + symbol - 280, 8);
    }
    BitWriter& fixedDistance(unsigned symbol)
    {
        return code(symbol, 5);
    }
    size_t bitCount() const
    {
        return bytes_.size() * 8 + used_;
    }
    std::vector<uint8_t> bytes() const
    {
        std::vector<uint8_t> out = bytes_;
        if (used_ != 0)
            out.push_back(current_);
        return out;
    }

private:
    void push(uint32_t bit)
    {
        current_ |= (uint8_t)(bit << used_);
        if (++used_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            used_ = 0;
        }
    }
    std::vector<uint8_t> bytes_;
    uint8_t current_ = 0;
    int used_ = 0;
};

struct InflateRun {
    int result = -1;
    std::vector<uint8_t> flushed;     // bytes passed to flushOutputBuffer, in order
    std::vector<uint32_t> flushSizes; // the count at each flushOutputBuffer call
    std::vector<uint8_t> leftover;    // the partial output buffer left after inflate
    uint32_t readCalls = 0;
    size_t delivered = 0;             // input bytes handed to the decoder by readInput
    uint32_t unused = 0;              // inflateUnusedInput() after a result of 0
    std::vector<uint8_t> output() const
    {
        std::vector<uint8_t> all = flushed;
        all.insert(all.end(), leftover.begin(), leftover.end());
        return all;
    }
};

// The window lives across entries, as in the stub; tests that need a fresh process start call freshWindow.
inline uint8_t* testWindow()
{
    static uint8_t window[INFLATE_WINDOW_SIZE];
    return window;
}
inline void freshWindow()
{
    memset(testWindow(), 0, INFLATE_WINDOW_SIZE);
    lastByte = 0;
}

struct Harness {
    const std::vector<uint8_t>* input = nullptr;
    size_t offset = 0;
    size_t pieceSize = OUTPUT_BUFFER_SIZE;
    InflateRun* run = nullptr;
    uint8_t outputBuffer[OUTPUT_BUFFER_SIZE];
    uint8_t piece[1 << 16];
};

inline Harness& harness()
{
    static Harness h;
    return h;
}

inline uint32_t harnessRead(const uint8_t** piece)
{
    Harness& h = harness();
    h.run->readCalls++;
    size_t n = std::min(h.pieceSize, h.input->size() - h.offset);
    // Copy into a separate buffer so that the sanitizer sees any read past the piece.
    if (n != 0)
        memcpy(h.piece, h.input->data() + h.offset, n);
    h.offset += n;
    *piece = h.piece;
    return (uint32_t)n;
}

inline void harnessFlush()
{
    Harness& h = harness();
    h.run->flushSizes.push_back(inflateIo.outputCount);
    h.run->flushed.insert(h.run->flushed.end(), h.outputBuffer, h.outputBuffer + inflateIo.outputCount);
    inflateIo.outputCount = 0;
}

inline void plugHarness(const std::vector<uint8_t>& input, size_t pieceSize, InflateRun* run)
{
    Harness& h = harness();
    h.input = &input;
    h.offset = 0;
    h.pieceSize = std::min<size_t>(pieceSize, sizeof h.piece);
    h.run = run;
    inflateIo.readInput = harnessRead;
    inflateIo.flushOutputBuffer = harnessFlush;
    inflateIo.window = testWindow();
    inflateIo.outputBuffer = h.outputBuffer;
    inflateIo.outputCount = 0;
}

// Runs inflate() once over `input`, delivered in pieces of pieceSize bytes. The window is not cleared.
inline InflateRun runInflate(const std::vector<uint8_t>& input, size_t pieceSize = OUTPUT_BUFFER_SIZE)
{
    InflateRun run;
    plugHarness(input, pieceSize, &run);
    run.result = inflate();
    run.leftover.assign(harness().outputBuffer, harness().outputBuffer + inflateIo.outputCount);
    run.delivered = harness().offset;
    if (run.result == 0)
        run.unused = inflateUnusedInput();
    return run;
}

// Raw deflate with zlib (no header), with a chosen level and strategy.
inline std::vector<uint8_t> zlibDeflate(const std::vector<uint8_t>& data, int level, int strategy = Z_DEFAULT_STRATEGY)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK)
        return {};
    std::vector<uint8_t> out(deflateBound(&z, data.size()) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : std::vector<uint8_t>{};
}

// Raw inflate with zlib; true only when zlib reaches the end of the stream within the input.
inline bool zlibInflate(const std::vector<uint8_t>& stream, std::vector<uint8_t>* out, size_t limit)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    out->assign(limit, 0);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = (uInt)stream.size();
    z.next_out = out->data();
    z.avail_out = (uInt)out->size();
    int r = ::inflate(&z, Z_FINISH);
    out->resize(z.total_out);
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

inline std::vector<uint8_t> patternBytes(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        v[i] = (uint8_t)(x >> 16);
    }
    return v;
}

// Canonical codes for a list of code lengths (RFC 1951, 3.2.2); unused symbols (length 0) get 0.
template <typename Length>
std::vector<uint32_t> canonicalCodes(const std::vector<Length>& lengths)
{
    uint32_t count[17] = {0};
    for (Length len : lengths)
        count[len]++;
    count[0] = 0;
    uint32_t next[17] = {0};
    uint32_t code = 0;
    for (int bits = 1; bits <= 16; bits++) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); i++)
        if (lengths[i])
            codes[i] = next[lengths[i]]++;
    return codes;
}

} // namespace decodetest

#endif
