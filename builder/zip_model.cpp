#include "zip_model.h"

#include "archive/path_rules.h"

#include "unicode_text.h"

static void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

static void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

static void putText(std::vector<uint8_t>& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
}

std::vector<uint8_t> writeZip(const ZipArchive& archive, uint32_t base, uint32_t* endRecordPos)
{
    std::vector<uint8_t> out;
    std::vector<uint32_t> localOffsets;
    for (const ZipEntry& e : archive.entries) {
        localOffsets.push_back(base + (uint32_t)out.size());
        put32(out, ZIP_LOCAL_SIGNATURE);
        put16(out, e.versionNeeded);
        put16(out, e.flags);
        put16(out, e.method);
        put16(out, e.time);
        put16(out, e.date);
        put32(out, e.crc);
        put32(out, (uint32_t)e.data.size());
        put32(out, e.uncompressedSize);
        put16(out, (uint32_t)e.name.size());
        put16(out, (uint32_t)e.localExtra.size());
        putText(out, e.name);
        putText(out, e.localExtra);
        out.insert(out.end(), e.data.begin(), e.data.end());
        if (e.flags & ZIP_FLAG_DESCRIPTOR) {
            put32(out, ZIP_DESCRIPTOR_SIGNATURE);
            put32(out, e.crc);
            put32(out, (uint32_t)e.data.size());
            put32(out, e.uncompressedSize);
        }
    }
    uint32_t centralStart = (uint32_t)out.size();
    for (size_t index : archive.centralOrder) {
        const ZipEntry& e = archive.entries[index];
        put32(out, ZIP_CENTRAL_SIGNATURE);
        put16(out, e.versionMadeBy);
        put16(out, e.versionNeeded);
        put16(out, e.flags);
        put16(out, e.method);
        put16(out, e.time);
        put16(out, e.date);
        put32(out, e.crc);
        put32(out, (uint32_t)e.data.size());
        put32(out, e.uncompressedSize);
        put16(out, (uint32_t)e.name.size());
        put16(out, (uint32_t)e.centralExtra.size());
        put16(out, (uint32_t)e.comment.size());
        put16(out, 0); // disk number start
        put16(out, e.internalAttributes);
        put32(out, e.externalAttributes);
        put32(out, localOffsets[index]);
        putText(out, e.name);
        putText(out, e.centralExtra);
        putText(out, e.comment);
    }
    uint32_t centralSize = (uint32_t)out.size() - centralStart;
    *endRecordPos = (uint32_t)out.size();
    put32(out, ZIP_END_SIGNATURE);
    put16(out, 0); // this disk
    put16(out, 0); // disk of the central directory
    put16(out, (uint32_t)archive.centralOrder.size());
    put16(out, (uint32_t)archive.centralOrder.size());
    put32(out, centralSize);
    put32(out, base + centralStart);
    put16(out, (uint32_t)archive.comment.size());
    putText(out, archive.comment);
    return out;
}

std::string checkEntryName(const std::string& name, uint16_t flags)
{
    std::u16string units;
    if (flags & ZIP_FLAG_UTF8) {
        if (!utf8ToUtf16(name, &units))
            return "name is not valid UTF-8";
    } else {
        units = cp437ToUtf16(name);
    }
    if (units.size() > ZIP_NAME_MAX_UNITS)
        return "name is longer than 259 characters";
    if (name.size() > ZIP_NAME_MAX_BYTES)
        return "name is longer than 263 bytes";
    std::wstring wide(units.begin(), units.end());
    if (!entryNameIsSafe(wide.c_str()))
        return "name could reach outside the target folder or name a device (.., drive, ':', device name, "
               "trailing dot or blank)";
    return std::string();
}

uint64_t totalUncompressedSize(const ZipArchive& archive)
{
    uint64_t total = 0;
    for (const ZipEntry& e : archive.entries)
        total += e.uncompressedSize;
    return total;
}

bool hasEncryptedEntry(const ZipArchive& archive)
{
    for (const ZipEntry& e : archive.entries)
        if (e.flags & ZIP_FLAG_ENCRYPTED)
            return true;
    return false;
}
