#include "zip_data_check.h"

#include <zlib.h>

#include <new>
#include <vector>

#include "zip_model.h"

enum : uint32_t {
    OUTPUT_CHUNK = 65536, // what the decoder produces between two looks at the count
};

static DecodedData storedData(const uint8_t* data, size_t size, uint32_t declaredSize)
{
    DecodedData d = {DecodeOutcome::Complete, 0, 0, 0};
    // zlib's crc32 takes a 32-bit length; sizes here are below 2^31 anyway.
    size_t counted = size > (size_t)declaredSize + 1 ? (size_t)declaredSize + 1 : size;
    d.crc = (uint32_t)crc32(0L, data, (uInt)counted);
    d.size = counted;
    if (counted > declaredSize)
        d.outcome = DecodeOutcome::PastDeclaredSize;
    return d;
}

// zlib's inflate in raw mode (window bits -15). The output goes into one chunk that is overwritten each
// round; each round may produce at most one byte more than the declared size still allows, so a stream
// that decodes to more stops one byte past the declared size however far it would have gone.
static DecodedData inflatedData(const uint8_t* data, size_t size, uint32_t declaredSize)
{
    DecodedData d = {DecodeOutcome::Complete, 0, (uint32_t)crc32(0L, Z_NULL, 0), 0};
    if (size == 0)
        return d;
    std::vector<uint8_t> chunk(OUTPUT_CHUNK);
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        throw std::bad_alloc();
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = (uInt)size;
    for (;;) {
        uint64_t room = (uint64_t)declaredSize + 1 - d.size;
        z.next_out = chunk.data();
        z.avail_out = (uInt)(room < OUTPUT_CHUNK ? room : (uint64_t)OUTPUT_CHUNK);
        uInt offered = z.avail_out;
        int result = inflate(&z, Z_NO_FLUSH);
        uInt produced = offered - z.avail_out;
        d.crc = (uint32_t)crc32(d.crc, chunk.data(), produced);
        d.size += produced;
        if (d.size > declaredSize) {
            d.outcome = DecodeOutcome::PastDeclaredSize;
            break;
        }
        if (result == Z_STREAM_END) {
            if (z.avail_in != 0) {
                d.outcome = DecodeOutcome::TrailingBytes;
                d.trailingBytes = z.avail_in;
            }
            break;
        }
        if (result == Z_MEM_ERROR) {
            inflateEnd(&z);
            throw std::bad_alloc();
        }
        if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_STREAM_ERROR) {
            d.outcome = DecodeOutcome::Damaged;
            break;
        }
        // Z_OK or Z_BUF_ERROR: with input left the next round goes on (the output had no room); without
        // it the stream needs bytes that are not there. Every round either consumes input or fills the
        // output, which the size check above bounds, so the loop ends.
        if (z.avail_in == 0 && z.avail_out != 0) {
            d.outcome = DecodeOutcome::CutShort;
            break;
        }
    }
    inflateEnd(&z);
    return d;
}

DecodedData decodeEntryData(uint16_t method, const uint8_t* data, size_t size, uint32_t declaredSize)
{
    if (method == ZIP_METHOD_STORED)
        return storedData(data, size, declaredSize);
    return inflatedData(data, size, declaredSize);
}
