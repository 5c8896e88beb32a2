// Fuzzes the building tool's ZIP reader and writer with the bytes as a ZIP input file. Besides running
// clean under the sanitizers, a refusal must be one line, and an archive the reader accepts must come
// out of the writer
// - in the shape Info-ZIP checks: the end record ends the file, counts every central header and gives
//   the directory's true offset and size; every central header's local header offset points at a local
//   header with the same name, flags, method, CRC and sizes (and a signed descriptor repeating them after
//   the data of a bit-3 entry); no two entries share a byte;
// - in the shape the stub walks: local records back to back from the archive's first byte up to the
//   central directory, and no data in a folder entry;
// - with the same entries when the reader reads it again (names, flags, CRCs, sizes, data, extras,
//   comments, central directory order).
// Every second input is written after a 1 KiB prefix that the offsets count, as in a self-extracting file.
// Each input is tried as it is and, when that changes it, with the CRCs and sizes of its entries set to
// what their data decodes to, so that mutated data reaches the writer too.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "builder/build_error.h"
#include "builder/zip_model.h"
#include "builder/zip_reader.h"
#include "startup/payload_format.h"

static void require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "zip_build_fuzz: %s\n", what);
        abort();
    }
}

static std::string bytes(const std::vector<uint8_t>& f, size_t at, size_t n)
{
    return std::string(f.begin() + at, f.begin() + at + n);
}

// The written archive read the plain way, record by record, with every position checked before use.
static void checkStructure(const std::vector<uint8_t>& f, uint32_t base, const ZipArchive& archive)
{
    require(f.size() >= base + ZIP_END_RECORD_SIZE, "no room for an end record");
    const size_t end = f.size() - ZIP_END_RECORD_SIZE - archive.comment.size();
    require(readLe32(&f[end]) == ZIP_END_SIGNATURE, "the end record is not where the file ends");
    require(readLe16(&f[end + 4]) == 0 && readLe16(&f[end + 6]) == 0, "the end record names another disk");
    const uint16_t count = readLe16(&f[end + 10]);
    require(readLe16(&f[end + 8]) == count && count == archive.centralOrder.size(), "end record counts are wrong");
    const uint32_t centralSize = readLe32(&f[end + 12]);
    const uint32_t centralOffset = readLe32(&f[end + 16]);
    require(readLe16(&f[end + 20]) == archive.comment.size(), "end record's comment length is wrong");
    require((uint64_t)centralOffset + centralSize == end && centralOffset >= base,
            "the central directory is not where the end record says");

    std::vector<std::pair<uint64_t, uint64_t>> records; // [local header, end of its data and descriptor)
    size_t p = centralOffset;
    for (uint32_t i = 0; i < count; i++) {
        require(p + ZIP_CENTRAL_HEADER_SIZE <= end, "central header runs past the directory");
        const uint8_t* c = &f[p];
        require(readLe32(c) == ZIP_CENTRAL_SIGNATURE, "central header signature");
        const uint16_t flags = readLe16(c + 8), method = readLe16(c + 10);
        const uint32_t crc = readLe32(c + 16), packed = readLe32(c + 20), size = readLe32(c + 24);
        const uint16_t nameLength = readLe16(c + 28);
        const size_t headerEnd = p + ZIP_CENTRAL_HEADER_SIZE + nameLength + readLe16(c + 30) + readLe16(c + 32);
        require(headerEnd <= end, "central header's name, extra or comment runs past the directory");
        require(readLe16(c + 34) == 0, "central header names another disk");
        const std::string name = bytes(f, p + ZIP_CENTRAL_HEADER_SIZE, nameLength);
        require(packed < ZIP_SIZE_LIMIT && size < ZIP_SIZE_LIMIT, "a size the stub cannot count");
        if (isFolderEntryName(name))
            require(packed == 0 && size == 0, "a folder entry with data");

        const uint64_t local = readLe32(c + 42);
        require(local >= base && local + ZIP_LOCAL_HEADER_SIZE <= centralOffset, "local header offset out of range");
        const uint8_t* l = &f[local];
        require(readLe32(l) == ZIP_LOCAL_SIGNATURE, "no local header at the central header's offset");
        require(readLe16(l + 6) == flags && readLe16(l + 8) == method, "local and central flags or method differ");
        require(readLe32(l + 14) == crc && readLe32(l + 18) == packed && readLe32(l + 22) == size,
                "local and central CRC or sizes differ");
        const uint64_t dataStart = local + ZIP_LOCAL_HEADER_SIZE + readLe16(l + 26) + readLe16(l + 28);
        require(dataStart <= centralOffset, "local header's name or extra runs into the central directory");
        require(readLe16(l + 26) == nameLength && bytes(f, local + ZIP_LOCAL_HEADER_SIZE, nameLength) == name,
                "local and central names differ");
        uint64_t recordEnd = dataStart + packed;
        if (flags & ZIP_FLAG_DESCRIPTOR) {
            require(recordEnd + ZIP_DESCRIPTOR_SIZE <= centralOffset, "descriptor runs into the central directory");
            const uint8_t* d = &f[recordEnd];
            require(readLe32(d) == ZIP_DESCRIPTOR_SIGNATURE && readLe32(d + 4) == crc && readLe32(d + 8) == packed
                        && readLe32(d + 12) == size,
                    "descriptor differs from the central header");
            recordEnd += ZIP_DESCRIPTOR_SIZE;
        }
        require(recordEnd <= centralOffset, "data runs into the central directory");
        records.emplace_back(local, recordEnd);
        p = headerEnd;
    }
    require(p == end, "bytes after the last central header");

    std::sort(records.begin(), records.end());
    uint64_t expected = base;
    for (const auto& r : records) {
        require(r.first >= expected, "two entries share bytes");
        require(r.first == expected, "a gap between local records");
        expected = r.second;
    }
    require(expected == centralOffset, "bytes between the last local record and the central directory");
}

static void checkSameEntries(const ZipArchive& a, const ZipArchive& b)
{
    require(a.entries.size() == b.entries.size(), "read back: another number of entries");
    require(a.centralOrder == b.centralOrder, "read back: another central directory order");
    require(a.comment == b.comment, "read back: another archive comment");
    for (size_t i = 0; i < a.entries.size(); i++) {
        const ZipEntry& x = a.entries[i];
        const ZipEntry& y = b.entries[i];
        require(x.name == y.name, "read back: another name");
        require(x.flags == y.flags && x.method == y.method, "read back: other flags or method");
        require(x.crc == y.crc && x.uncompressedSize == y.uncompressedSize, "read back: another CRC or size");
        require(x.data == y.data, "read back: other data");
        require(x.time == y.time && x.date == y.date, "read back: another time");
        require(x.versionMadeBy == y.versionMadeBy && x.versionNeeded == y.versionNeeded, "read back: other versions");
        require(x.internalAttributes == y.internalAttributes && x.externalAttributes == y.externalAttributes,
                "read back: other attributes");
        require(x.localExtra == y.localExtra && x.centralExtra == y.centralExtra && x.comment == y.comment,
                "read back: another extra field or comment");
    }
}

// The CRC-32 and size of what data decodes to, with zlib; false when it does not decode completely
// within a bounded output.
static bool decodedCrcAndSize(uint16_t method, const uint8_t* data, size_t size, uint32_t* crc, uint32_t* produced)
{
    if (method == ZIP_METHOD_STORED) {
        *crc = (uint32_t)crc32(0L, data, (uInt)size);
        *produced = (uint32_t)size;
        return true;
    }
    if (method != ZIP_METHOD_DEFLATED)
        return false;
    static std::vector<uint8_t> out(1 << 20);
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = (uInt)size;
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int result = inflate(&z, Z_FINISH);
    *produced = (uint32_t)z.total_out;
    *crc = (uint32_t)crc32(0L, out.data(), (uInt)z.total_out);
    inflateEnd(&z);
    return result == Z_STREAM_END || (result == Z_BUF_ERROR && size == 0);
}

// Mutated data rarely keeps the CRC and size its headers declare, so little of it would get past the
// reader to the writer. This copy of the input gets them fixed: for every central header signature that
// points at a local header, the CRC-32 and uncompressed size of what the data decodes to go into the
// central header, the local header (unless it holds zeros, as with bit 3) and a descriptor after the data.
// Returns false when nothing was changed.
static bool withRepairedChecksums(std::vector<uint8_t>& z)
{
    bool changed = false;
    auto put = [&](size_t at, uint32_t value) {
        if (at + 4 <= z.size() && readLe32(&z[at]) != value) {
            for (int i = 0; i < 4; i++)
                z[at + i] = (uint8_t)(value >> (8 * i));
            changed = true;
        }
    };
    for (size_t p = 0; p + ZIP_CENTRAL_HEADER_SIZE <= z.size(); p++) {
        if (readLe32(&z[p]) != ZIP_CENTRAL_SIGNATURE)
            continue;
        const uint16_t flags = readLe16(&z[p + 8]), method = readLe16(&z[p + 10]);
        const uint32_t packed = readLe32(&z[p + 20]);
        const uint64_t local = readLe32(&z[p + 42]);
        if (flags & ZIP_FLAG_ENCRYPTED || local + ZIP_LOCAL_HEADER_SIZE > z.size()
            || readLe32(&z[local]) != ZIP_LOCAL_SIGNATURE)
            continue;
        const uint64_t dataStart = local + ZIP_LOCAL_HEADER_SIZE + readLe16(&z[local + 26]) + readLe16(&z[local + 28]);
        if (dataStart + packed > z.size())
            continue;
        uint32_t crc, size;
        if (!decodedCrcAndSize(method, &z[dataStart], packed, &crc, &size))
            continue;
        put(p + 16, crc);
        put(p + 24, size);
        if (readLe32(&z[local + 14]) != 0 || !(flags & ZIP_FLAG_DESCRIPTOR)) {
            put(local + 14, crc);
            put(local + 22, size);
        }
        if (flags & ZIP_FLAG_DESCRIPTOR) {
            const uint64_t descriptor = dataStart + packed;
            const bool signedOne = descriptor + 4 <= z.size() && readLe32(&z[descriptor]) == ZIP_DESCRIPTOR_SIGNATURE;
            put(descriptor + (signedOne ? 4 : 0), crc);
            put(descriptor + (signedOne ? 12 : 8), size);
        }
    }
    return changed;
}

static void checkWriterOn(const std::vector<uint8_t>& input)
{
    ZipArchive archive;
    try {
        archive = readZipArchive(input);
    } catch (const BuildError& e) {
        require(strchr(e.what(), '\n') == nullptr && strchr(e.what(), '\r') == nullptr, "a refusal of more than one line");
        return;
    }

    const uint32_t base = (input.size() & 1) ? 0x400 : 0;
    std::vector<uint8_t> written(base, 0);
    uint32_t endRecordPos = 0;
    appendZip(archive, base, written, &endRecordPos);
    require(written.size() - base == zipSize(archive), "zipSize disagrees with what appendZip writes");
    require(base + endRecordPos == written.size() - ZIP_END_RECORD_SIZE - archive.comment.size(),
            "endRecordPos is not the end record");
    checkStructure(written, base, archive);

    ZipArchive again;
    try {
        again = readZipArchive(written);
    } catch (const BuildError& e) {
        fprintf(stderr, "zip_build_fuzz: the written archive is refused: %s\n", e.what());
        abort();
    }
    checkSameEntries(archive, again);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> input(data, data + size);
    checkWriterOn(input);
    if (withRepairedChecksums(input))
        checkWriterOn(input);
    return 0;
}
