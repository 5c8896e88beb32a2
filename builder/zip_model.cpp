#include "zip_model.h"

#include "archive/path_rules.h"

#include "unicode_text.h"

void putLe16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back((uint8_t)value);
    out.push_back((uint8_t)(value >> 8));
}

void putLe32(std::vector<uint8_t>& out, uint32_t value)
{
    putLe16(out, value & 0xFFFF);
    putLe16(out, value >> 16);
}

void putBytes(std::vector<uint8_t>& out, const std::string& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> localHeaderRecord(const ZipEntry& e)
{
    std::vector<uint8_t> h;
    putLe32(h, ZIP_LOCAL_SIGNATURE);
    putLe16(h, e.versionNeeded);
    putLe16(h, e.flags);
    putLe16(h, e.method);
    putLe16(h, e.time);
    putLe16(h, e.date);
    putLe32(h, e.crc);
    putLe32(h, (uint32_t)e.data.size());
    putLe32(h, e.uncompressedSize);
    putLe16(h, (uint32_t)e.name.size());
    putLe16(h, (uint32_t)e.localExtra.size());
    putBytes(h, e.name);
    putBytes(h, e.localExtra);
    return h;
}

std::vector<uint8_t> descriptorRecord(const ZipEntry& e)
{
    std::vector<uint8_t> d;
    putLe32(d, ZIP_DESCRIPTOR_SIGNATURE);
    putLe32(d, e.crc);
    putLe32(d, (uint32_t)e.data.size());
    putLe32(d, e.uncompressedSize);
    return d;
}

std::vector<uint8_t> centralHeaderRecord(const ZipEntry& e, uint16_t diskStart, uint32_t localOffset)
{
    std::vector<uint8_t> h;
    putLe32(h, ZIP_CENTRAL_SIGNATURE);
    putLe16(h, e.versionMadeBy);
    putLe16(h, e.versionNeeded);
    putLe16(h, e.flags);
    putLe16(h, e.method);
    putLe16(h, e.time);
    putLe16(h, e.date);
    putLe32(h, e.crc);
    putLe32(h, (uint32_t)e.data.size());
    putLe32(h, e.uncompressedSize);
    putLe16(h, (uint32_t)e.name.size());
    putLe16(h, (uint32_t)e.centralExtra.size());
    putLe16(h, (uint32_t)e.comment.size());
    putLe16(h, diskStart);
    putLe16(h, e.internalAttributes);
    putLe32(h, e.externalAttributes);
    putLe32(h, localOffset);
    putBytes(h, e.name);
    putBytes(h, e.centralExtra);
    putBytes(h, e.comment);
    return h;
}

void appendZip(const ZipArchive& archive, uint32_t base, std::vector<uint8_t>& out, uint32_t* endRecordPos)
{
    const size_t start = out.size();
    auto position = [&]() { return base + (uint32_t)(out.size() - start); };
    std::vector<uint32_t> localOffsets;
    for (const ZipEntry& e : archive.entries) {
        localOffsets.push_back(position());
        std::vector<uint8_t> header = localHeaderRecord(e);
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), e.data.begin(), e.data.end());
        if (e.flags & ZIP_FLAG_DESCRIPTOR) {
            std::vector<uint8_t> descriptor = descriptorRecord(e);
            out.insert(out.end(), descriptor.begin(), descriptor.end());
        }
    }
    const uint32_t centralStart = position();
    for (size_t index : archive.centralOrder) {
        std::vector<uint8_t> header = centralHeaderRecord(archive.entries[index], 0, localOffsets[index]);
        out.insert(out.end(), header.begin(), header.end());
    }
    const uint32_t centralSize = position() - centralStart;
    *endRecordPos = (uint32_t)(out.size() - start);
    putLe32(out, ZIP_END_SIGNATURE);
    putLe16(out, 0); // this disk
    putLe16(out, 0); // disk of the central directory
    putLe16(out, (uint32_t)archive.centralOrder.size());
    putLe16(out, (uint32_t)archive.centralOrder.size());
    putLe32(out, centralSize);
    putLe32(out, centralStart);
    putLe16(out, (uint32_t)archive.comment.size());
    putBytes(out, archive.comment);
}

std::vector<uint8_t> writeZip(const ZipArchive& archive, uint32_t base, uint32_t* endRecordPos)
{
    std::vector<uint8_t> out;
    out.reserve((size_t)zipSize(archive));
    appendZip(archive, base, out, endRecordPos);
    return out;
}

uint64_t zipSize(const ZipArchive& archive)
{
    uint64_t size = ZIP_END_RECORD_SIZE + archive.comment.size();
    for (const ZipEntry& e : archive.entries) {
        size += ZIP_LOCAL_HEADER_SIZE + e.name.size() + e.localExtra.size() + e.data.size();
        size += (e.flags & ZIP_FLAG_DESCRIPTOR) ? (uint32_t)ZIP_DESCRIPTOR_SIZE : 0u;
    }
    for (size_t index : archive.centralOrder) {
        const ZipEntry& e = archive.entries[index];
        size += ZIP_CENTRAL_HEADER_SIZE + e.name.size() + e.centralExtra.size() + e.comment.size();
    }
    return size;
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

std::string withoutAlternateNames(const std::string& extra)
{
    std::string kept;
    for (size_t at = 0; at + 4 <= extra.size();) {
        uint32_t id = (uint8_t)extra[at] | ((uint8_t)extra[at + 1] << 8);
        size_t size = (uint8_t)extra[at + 2] | ((uint8_t)extra[at + 3] << 8);
        if (at + 4 + size > extra.size())
            break;
        if (id != 0x7075)
            kept.append(extra, at, 4 + size);
        at += 4 + size;
    }
    return kept;
}

bool isFolderEntryName(const std::string& name)
{
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
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
