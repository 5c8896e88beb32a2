#include "zip_reader.h"

#include "unicode_text.h"

#include <algorithm>

#include "../startup/payload_format.h"
#include "build_error.h"

// Every position and length taken from the archive goes through here before it is used.
static void requireInside(size_t size, uint64_t offset, uint64_t length, const char* what)
{
    if (offset > size || length > size - offset)
        throw BuildError(std::string("malformed ZIP archive: ") + what + " runs past the end of the file");
}

static std::string bytesAt(const std::vector<uint8_t>& b, size_t offset, size_t length)
{
    return std::string(b.begin() + offset, b.begin() + offset + length);
}

static std::string quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

// Position of the end record: the last signature whose comment fits inside the file.
static size_t findEndRecord(const std::vector<uint8_t>& b)
{
    if (b.size() < ZIP_END_RECORD_SIZE)
        throw BuildError("not a ZIP archive (too short for an end of central directory record)");
    size_t last = b.size() - ZIP_END_RECORD_SIZE;
    size_t first = last > 0xFFFF ? last - 0xFFFF : 0;
    for (size_t p = last + 1; p-- > first;) {
        if (readLe32(&b[p]) != ZIP_END_SIGNATURE)
            continue;
        uint16_t commentLength = readLe16(&b[p + 20]);
        if (commentLength <= b.size() - p - ZIP_END_RECORD_SIZE)
            return p;
    }
    throw BuildError("not a ZIP archive (no end of central directory record)");
}

struct FoundEntry {
    ZipEntry entry;
    size_t centralIndex;
    uint64_t localOffset; // corrected for a prefix
    uint64_t dataEnd;
};

static void checkEntryFields(const ZipEntry& e, uint32_t compressedSize, uint32_t localOffset, uint16_t diskStart)
{
    std::string name = quoted(e.name);
    if (compressedSize == 0xFFFFFFFFu || e.uncompressedSize == 0xFFFFFFFFu || localOffset == 0xFFFFFFFFu
        || diskStart == 0xFFFF)
        throw BuildError("ZIP64 archives are not supported (entry " + name + ")");
    if (diskStart != 0)
        throw BuildError("spanned or multi-disk archives are not supported (entry " + name + ")");
    if (e.flags & ZIP_FLAG_CENTRAL_ENCRYPTED)
        throw BuildError("archives with an encrypted central directory are not supported");
    if (e.method == ZIP_METHOD_AES)
        throw BuildError("AES encryption is not supported (entry " + name + ")");
    if (e.flags & ZIP_FLAG_STRONG_ENCRYPTION)
        throw BuildError("strong encryption is not supported (entry " + name + ")");
    if (e.method != ZIP_METHOD_STORED && e.method != ZIP_METHOD_DEFLATED)
        throw BuildError("compression method " + std::to_string(e.method)
                         + " is not supported, only stored and deflated (entry " + name + ")");
    if (compressedSize >= ZIP_SIZE_LIMIT || e.uncompressedSize >= ZIP_SIZE_LIMIT)
        throw BuildError("entry " + name + " is 2 GiB or larger");
    if ((e.flags & ZIP_FLAG_ENCRYPTED) && compressedSize < 12)
        throw BuildError("malformed ZIP archive: encrypted entry " + name + " is shorter than its encryption header");
    std::string nameProblem = checkEntryName(e.name, e.flags);
    if (!nameProblem.empty())
        throw BuildError("entry " + name + ": " + nameProblem);
}

ZipArchive readZipArchive(const std::vector<uint8_t>& b)
{
    const size_t end = findEndRecord(b);
    const uint8_t* rec = &b[end];
    uint16_t thisDisk = readLe16(rec + 4);
    uint16_t centralDisk = readLe16(rec + 6);
    uint16_t entriesHere = readLe16(rec + 8);
    uint16_t entryCount = readLe16(rec + 10);
    uint32_t centralSize = readLe32(rec + 12);
    uint32_t centralOffset = readLe32(rec + 16);
    uint16_t commentLength = readLe16(rec + 20);

    if ((end >= 20 && readLe32(&b[end - 20]) == ZIP64_LOCATOR_SIGNATURE) || entryCount == 0xFFFF
        || entriesHere == 0xFFFF || centralSize == 0xFFFFFFFFu || centralOffset == 0xFFFFFFFFu)
        throw BuildError("ZIP64 archives are not supported");
    if (thisDisk != 0 || centralDisk != 0 || entriesHere != entryCount)
        throw BuildError("spanned or multi-disk archives are not supported");
    if (centralSize > end)
        throw BuildError("malformed ZIP archive: central directory larger than the data before the end record");

    // Where the central directory really is: where the end record says, or (after a prefix) right
    // before the end record.
    uint64_t centralStart = centralOffset;
    bool atRecordedPlace = (uint64_t)centralOffset + centralSize <= end
                           && (entryCount == 0 || readLe32(&b[centralOffset]) == ZIP_CENTRAL_SIGNATURE);
    if (!atRecordedPlace) {
        centralStart = end - centralSize;
        if (centralStart < centralOffset || (entryCount != 0 && readLe32(&b[centralStart]) != ZIP_CENTRAL_SIGNATURE))
            throw BuildError("malformed ZIP archive: no central directory where the end record points");
    }
    const uint64_t shift = centralStart - centralOffset;
    const uint64_t centralEnd = centralStart + centralSize;

    std::vector<FoundEntry> found;
    uint64_t p = centralStart;
    for (size_t i = 0; i < entryCount; i++) {
        requireInside(centralEnd, p, ZIP_CENTRAL_HEADER_SIZE, "a central directory header");
        const uint8_t* c = &b[p];
        if (readLe32(c) != ZIP_CENTRAL_SIGNATURE)
            throw BuildError("malformed ZIP archive: central directory header " + std::to_string(i + 1) + " is damaged");
        FoundEntry f;
        ZipEntry& e = f.entry;
        e.versionMadeBy = readLe16(c + 4);
        e.versionNeeded = readLe16(c + 6);
        e.flags = readLe16(c + 8);
        e.method = readLe16(c + 10);
        e.time = readLe16(c + 12);
        e.date = readLe16(c + 14);
        e.crc = readLe32(c + 16);
        uint32_t compressedSize = readLe32(c + 20);
        e.uncompressedSize = readLe32(c + 24);
        uint16_t nameLength = readLe16(c + 28);
        uint16_t extraLength = readLe16(c + 30);
        uint16_t commentLen = readLe16(c + 32);
        uint16_t diskStart = readLe16(c + 34);
        e.internalAttributes = readLe16(c + 36);
        e.externalAttributes = readLe32(c + 38);
        uint32_t localOffset = readLe32(c + 42);
        requireInside(centralEnd, p + ZIP_CENTRAL_HEADER_SIZE, (uint64_t)nameLength + extraLength + commentLen,
                      "a central directory header");
        size_t q = (size_t)p + ZIP_CENTRAL_HEADER_SIZE;
        e.name = bytesAt(b, q, nameLength);
        e.centralExtra = bytesAt(b, q + nameLength, extraLength);
        e.comment = bytesAt(b, q + nameLength + extraLength, commentLen);
        p = q + nameLength + extraLength + commentLen;

        // The stub reads every name as UTF-8. Without the UTF-8 flag a name may still be UTF-8 (Info-ZIP
        // on Unix writes it so) or be in the old DOS code page: a name that is not valid UTF-8 is taken
        // as the code page and stored as UTF-8. Either way the flag is set, for other tools.
        if (!(e.flags & ZIP_FLAG_UTF8) && !isAscii(e.name)) {
            std::u16string units;
            if (!utf8ToUtf16(e.name, &units))
                e.name = utf16ToUtf8(cp437ToUtf16(e.name));
            e.flags |= ZIP_FLAG_UTF8;
        }
        checkEntryFields(e, compressedSize, localOffset, diskStart);

        f.centralIndex = i;
        f.localOffset = localOffset + shift;
        requireInside(b.size(), f.localOffset, ZIP_LOCAL_HEADER_SIZE, "a local header");
        const uint8_t* l = &b[f.localOffset];
        if (readLe32(l) != ZIP_LOCAL_SIGNATURE)
            throw BuildError("malformed ZIP archive: no local header for entry " + quoted(e.name));
        if (readLe16(l + 8) != e.method || ((readLe16(l + 6) ^ e.flags) & ZIP_FLAG_ENCRYPTED))
            throw BuildError("malformed ZIP archive: local header of entry " + quoted(e.name)
                             + " disagrees with the central directory");
        uint16_t localNameLength = readLe16(l + 26);
        uint16_t localExtraLength = readLe16(l + 28);
        uint64_t dataStart = f.localOffset + ZIP_LOCAL_HEADER_SIZE + localNameLength + localExtraLength;
        requireInside(b.size(), f.localOffset + ZIP_LOCAL_HEADER_SIZE, (uint64_t)localNameLength + localExtraLength,
                      "a local header");
        e.localExtra = bytesAt(b, (size_t)(dataStart - localExtraLength), localExtraLength);
        requireInside(b.size(), dataStart, compressedSize, "the data of an entry");
        f.dataEnd = dataStart + compressedSize;
        if (f.dataEnd > centralStart)
            throw BuildError("malformed ZIP archive: data of entry " + quoted(e.name) + " runs into the central directory");
        e.data.assign(b.begin() + dataStart, b.begin() + f.dataEnd);
        found.push_back(std::move(f));
    }

    // The stub extracts in local-header order; two entries sharing bytes is damage (or a trick).
    std::sort(found.begin(), found.end(),
              [](const FoundEntry& x, const FoundEntry& y) { return x.localOffset < y.localOffset; });
    for (size_t i = 1; i < found.size(); i++)
        if (found[i - 1].dataEnd > found[i].localOffset)
            throw BuildError("malformed ZIP archive: entries " + quoted(found[i - 1].entry.name) + " and "
                             + quoted(found[i].entry.name) + " overlap");

    ZipArchive archive;
    archive.centralOrder.resize(found.size());
    for (size_t i = 0; i < found.size(); i++) {
        archive.centralOrder[found[i].centralIndex] = i;
        archive.entries.push_back(std::move(found[i].entry));
    }
    archive.comment = bytesAt(b, end + ZIP_END_RECORD_SIZE, commentLength);
    return archive;
}
