#include "zip_reader.h"

#include <stdio.h>

#include <algorithm>

#include "../decode/cipher.h"
#include "../startup/payload_format.h"
#include "build_error.h"
#include "unicode_text.h"
#include "windows_names.h"
#include "zip_data_check.h"

enum : uint32_t {
    ENCRYPTION_HEADER_SIZE = 12,
    UNSIGNED_DESCRIPTOR_SIZE = 12, // CRC and sizes without the optional signature
};

static const std::string MALFORMED = "malformed ZIP archive: ";

// Every position and length taken from the archive goes through here before it is used.
static void requireInside(size_t size, uint64_t offset, uint64_t length, const char* what)
{
    if (offset > size || length > size - offset)
        throw BuildError(MALFORMED + what + " runs past the end of the file");
}

static std::string bytesAt(const std::vector<uint8_t>& b, size_t offset, size_t length)
{
    return std::string(b.begin() + offset, b.begin() + offset + length);
}

// Names come from the file: they may hold line breaks and other control characters.
static std::string quoted(const std::string& name)
{
    return quotedForMessage(name);
}

static std::string hex32(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%08X", value);
    return text;
}

// Position of the end record: the last signature in the file's last 65,557 bytes, as unzip, 7z and
// Python's zipfile take it. Its comment must fit inside the file: skipping it for an earlier end record
// whose comment does fit would read another archive than those tools list (one whose comment holds a
// second central directory and an end record with a comment length past the end of the file).
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
        if (commentLength > b.size() - p - ZIP_END_RECORD_SIZE)
            throw BuildError(MALFORMED + "the comment of the last end of central directory record runs past the "
                                         "end of the file");
        return p;
    }
    throw BuildError("not a ZIP archive (no end of central directory record)");
}

// What the tool copies into its output without decoding (the archive comment, entry comments, extra
// fields) must hold no ZIP record signature: tools that look for records by their signature, as they
// look for the end record from the back, would read records from it that the stub never walks.
static void refuseRecordSignatures(const std::string& bytes, const std::string& what)
{
    static const uint8_t tails[][2] = {
        {0x01, 0x02}, {0x03, 0x04}, {0x05, 0x06}, {0x05, 0x05}, {0x06, 0x06}, {0x06, 0x07}, {0x07, 0x08}, {'0', '0'},
    };
    for (size_t i = 0; i + 4 <= bytes.size(); i++) {
        if (bytes[i] != 'P' || bytes[i + 1] != 'K')
            continue;
        for (const auto& t : tails)
            if ((uint8_t)bytes[i + 2] == t[0] && (uint8_t)bytes[i + 3] == t[1]) {
                char signature[16];
                snprintf(signature, sizeof signature, "PK %02X %02X", t[0], t[1]);
                throw BuildError(what + " holds a ZIP record signature (" + signature
                                 + ") that other ZIP tools could take for a record");
            }
    }
}

typedef ZipEntryPlace FoundEntry;

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
    if ((e.flags & ZIP_FLAG_ENCRYPTED) && compressedSize < ENCRYPTION_HEADER_SIZE)
        throw BuildError(MALFORMED + "encrypted entry " + name + " is shorter than its encryption header");
    // The stub steps over a folder's data only when its uncompressed size is 0; otherwise it would read
    // that data as the next record.
    if (isFolderEntryName(e.name) && e.uncompressedSize != 0)
        throw BuildError(MALFORMED + "folder entry " + name + " declares " + std::to_string(e.uncompressedSize)
                         + " bytes of contents");
    std::string nameProblem = checkEntryName(e.name, e.flags);
    if (!nameProblem.empty())
        throw BuildError("entry " + name + ": " + nameProblem);
}

// Reads central header number index at p (within the central directory, which ends at centralEnd) and
// returns the position after it.
static uint64_t readCentralHeader(const std::vector<uint8_t>& b, uint64_t p, uint64_t centralEnd, size_t index,
                                  FoundEntry* f)
{
    requireInside(centralEnd, p, ZIP_CENTRAL_HEADER_SIZE, "a central directory header");
    const uint8_t* c = &b[p];
    if (readLe32(c) != ZIP_CENTRAL_SIGNATURE)
        throw BuildError(MALFORMED + "central directory header " + std::to_string(index + 1) + " is damaged");
    ZipEntry& e = f->entry;
    e.versionMadeBy = readLe16(c + 4);
    e.versionNeeded = readLe16(c + 6);
    e.flags = readLe16(c + 8);
    e.method = readLe16(c + 10);
    e.time = readLe16(c + 12);
    e.date = readLe16(c + 14);
    e.crc = readLe32(c + 16);
    f->compressedSize = readLe32(c + 20);
    e.uncompressedSize = readLe32(c + 24);
    uint16_t nameLength = readLe16(c + 28);
    uint16_t extraLength = readLe16(c + 30);
    uint16_t commentLength = readLe16(c + 32);
    uint16_t diskStart = readLe16(c + 34);
    e.internalAttributes = readLe16(c + 36);
    e.externalAttributes = readLe32(c + 38);
    uint32_t localOffset = readLe32(c + 42);
    requireInside(centralEnd, p + ZIP_CENTRAL_HEADER_SIZE, (uint64_t)nameLength + extraLength + commentLength,
                  "a central directory header");
    size_t q = (size_t)p + ZIP_CENTRAL_HEADER_SIZE;
    f->storedName = bytesAt(b, q, nameLength);
    e.name = f->storedName;
    e.centralExtra = withoutAlternateNames(bytesAt(b, q + nameLength, extraLength));
    e.comment = bytesAt(b, q + nameLength + extraLength, commentLength);

    // The stub reads every name as UTF-8. Without the UTF-8 flag a name may still be UTF-8 (Info-ZIP on
    // Unix writes it so) or be in the old DOS code page: a name that is not valid UTF-8 is taken as the
    // code page and stored as UTF-8. Either way the flag is set, for other tools.
    if (!(e.flags & ZIP_FLAG_UTF8) && !isAscii(e.name)) {
        std::u16string units;
        if (!utf8ToUtf16(e.name, &units))
            e.name = utf16ToUtf8(cp437ToUtf16(e.name));
        e.flags |= ZIP_FLAG_UTF8;
    }
    checkEntryFields(e, f->compressedSize, localOffset, diskStart);
    refuseRecordSignatures(e.centralExtra, "the central extra field of entry " + quoted(e.name));
    refuseRecordSignatures(e.comment, "the comment of entry " + quoted(e.name));
    f->centralIndex = index;
    f->localOffset = localOffset;
    return q + nameLength + extraLength + commentLength;
}

// Length of the data descriptor after the data of a bit-3 entry: 16 bytes with its signature or 12
// without, whichever carries the central directory's CRC and sizes. It must end by limit.
static uint64_t descriptorLength(const std::vector<uint8_t>& b, const FoundEntry& f, uint64_t dataEnd, uint64_t limit)
{
    const ZipEntry& e = f.entry;
    auto carries = [&](uint64_t at) {
        const uint8_t* d = &b[at];
        return readLe32(d) == e.crc && readLe32(d + 4) == f.compressedSize && readLe32(d + 8) == e.uncompressedSize;
    };
    if (dataEnd + ZIP_DESCRIPTOR_SIZE <= limit && readLe32(&b[dataEnd]) == ZIP_DESCRIPTOR_SIGNATURE
        && carries(dataEnd + 4))
        return ZIP_DESCRIPTOR_SIZE;
    if (dataEnd + UNSIGNED_DESCRIPTOR_SIZE <= limit && carries(dataEnd))
        return UNSIGNED_DESCRIPTOR_SIZE;
    throw BuildError(MALFORMED + "the data descriptor of entry " + quoted(e.name)
                     + " is missing or disagrees with the central directory");
}

// Reads the local header of an entry found in the central directory and works out the bytes the entry
// takes; everything must lie before the central directory (which starts at centralStart). Reads no data.
static void readLocalRecord(const std::vector<uint8_t>& b, uint64_t centralStart, FoundEntry* f)
{
    ZipEntry& e = f->entry;
    const std::string name = quoted(e.name);
    requireInside(b.size(), f->localOffset, ZIP_LOCAL_HEADER_SIZE, "a local header");
    const uint8_t* l = &b[f->localOffset];
    if (readLe32(l) != ZIP_LOCAL_SIGNATURE)
        throw BuildError(MALFORMED + "no local header for entry " + name);
    const std::string disagrees = MALFORMED + "local header of entry " + name + " disagrees with the central directory";
    if (readLe16(l + 8) != e.method)
        throw BuildError(disagrees + " on the method");
    if ((readLe16(l + 6) ^ e.flags) & (ZIP_FLAG_ENCRYPTED | ZIP_FLAG_DESCRIPTOR))
        throw BuildError(disagrees + " on encryption or the data descriptor");
    // Without bit 3 the local header carries the CRC and sizes; with it they are in the descriptor, and the
    // local header holds zeros (or, from some producers, the same values).
    const bool streamed = (e.flags & ZIP_FLAG_DESCRIPTOR) != 0;
    const uint32_t local[3] = {readLe32(l + 14), readLe32(l + 18), readLe32(l + 22)};
    const uint32_t central[3] = {e.crc, f->compressedSize, e.uncompressedSize};
    for (int i = 0; i < 3; i++)
        if (local[i] != central[i] && !(streamed && local[i] == 0))
            throw BuildError(disagrees + " on the CRC or the sizes");
    uint16_t localNameLength = readLe16(l + 26);
    uint16_t localExtraLength = readLe16(l + 28);
    requireInside(b.size(), f->localOffset + ZIP_LOCAL_HEADER_SIZE, (uint64_t)localNameLength + localExtraLength,
                  "a local header");
    // Tools that walk local headers would show this name: it must be the one that was checked.
    if (bytesAt(b, (size_t)f->localOffset + ZIP_LOCAL_HEADER_SIZE, localNameLength) != f->storedName)
        throw BuildError(disagrees + " on the name");
    f->dataStart = f->localOffset + ZIP_LOCAL_HEADER_SIZE + localNameLength + localExtraLength;
    e.localExtra = withoutAlternateNames(bytesAt(b, (size_t)(f->dataStart - localExtraLength), localExtraLength));
    refuseRecordSignatures(e.localExtra, "the local extra field of entry " + name);
    requireInside(b.size(), f->dataStart, f->compressedSize, "the data of an entry");
    const uint64_t dataEnd = f->dataStart + f->compressedSize;
    if (dataEnd > centralStart)
        throw BuildError(MALFORMED + "data of entry " + name + " runs into the central directory");
    f->recordEnd = dataEnd + (streamed ? descriptorLength(b, *f, dataEnd, centralStart) : 0);
}

// Decodes the entry's data and compares it with the headers. Entries with traditional encryption cannot be
// decoded without the password, which ZIP input does not carry: for them only what needs no password is
// checked (the 12-byte encryption header is there; stored data is that header plus the declared size);
// their CRC and sizes are checked by the stub after decrypting. With a password (--test, --inspect) they
// are decrypted first, and the header's check byte must fit. A folder entry's data may only decode to
// nothing (some producers store a folder as an empty deflate stream).
std::string entryDataProblem(const std::vector<uint8_t>& b, const FoundEntry& f, const std::string* password)
{
    const ZipEntry& e = f.entry;
    const std::string name = quoted(e.name);
    const uint8_t* data = b.data() + f.dataStart;
    size_t size = f.compressedSize;
    const bool folder = isFolderEntryName(e.name);
    const bool encrypted = (e.flags & ZIP_FLAG_ENCRYPTED) != 0;

    std::vector<uint8_t> plain;
    if (encrypted) {
        if (e.method == ZIP_METHOD_STORED && !folder && size != (uint64_t)e.uncompressedSize + ENCRYPTION_HEADER_SIZE)
            return "stored encrypted entry " + name + " holds " + std::to_string(size)
                   + " bytes, not its encryption header and " + std::to_string(e.uncompressedSize);
        if (!password)
            return "";
        plain.assign(data, data + size);
        initKeys(password->c_str());
        decryptBuffer(plain.data(), (uint32_t)plain.size());
        wipeKeys();
        if (plain[ENCRYPTION_HEADER_SIZE - 1] != encryptionCheckByte(e.flags, e.crc, e.time))
            return "the password does not fit entry " + name + " (its check byte differs)";
        data = plain.data() + ENCRYPTION_HEADER_SIZE;
        size -= ENCRYPTION_HEADER_SIZE;
    }
    DecodedData d = decodeEntryData(e.method, data, size, e.uncompressedSize);
    switch (d.outcome) {
    case DecodeOutcome::PastDeclaredSize:
        if (folder)
            return "folder entry " + name + " holds data";
        return "entry " + name + " decodes to more than its declared " + std::to_string(e.uncompressedSize) + " bytes";
    case DecodeOutcome::Damaged:
        return "the deflate data of entry " + name + " is damaged";
    case DecodeOutcome::CutShort:
        return "the deflate data of entry " + name + " ends before its last block";
    case DecodeOutcome::TrailingBytes:
        return "entry " + name + " has " + std::to_string(d.trailingBytes) + " bytes after the end of its deflate data";
    case DecodeOutcome::Complete:
        break;
    }
    if (d.size != e.uncompressedSize)
        return "entry " + name + " decodes to " + std::to_string(d.size) + " bytes but declares "
               + std::to_string(e.uncompressedSize);
    if (d.crc != e.crc)
        return "entry " + name + " has CRC-32 " + hex32(d.crc) + " but declares " + hex32(e.crc);
    return "";
}

// Checks the entry's data and only then copies it; a folder entry is written with no data.
static void takeEntryData(const std::vector<uint8_t>& b, FoundEntry* f)
{
    std::string problem = entryDataProblem(b, *f, nullptr);
    if (!problem.empty())
        throw BuildError(MALFORMED + problem);
    ZipEntry& e = f->entry;
    if (isFolderEntryName(e.name)) {
        e.method = ZIP_METHOD_STORED;
        e.flags &= ~(uint16_t)(ZIP_FLAG_ENCRYPTED | ZIP_FLAG_DESCRIPTOR);
        e.crc = 0;
        e.uncompressedSize = 0;
        e.data.clear();
        return;
    }
    e.data.assign(b.begin() + f->dataStart, b.begin() + f->dataStart + f->compressedSize);
}

ZipDirectory readZipDirectory(const std::vector<uint8_t>& b)
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
    const std::string comment = bytesAt(b, end + ZIP_END_RECORD_SIZE, commentLength);
    refuseRecordSignatures(comment, "the archive comment");

    if (entryCount == 0xFFFF || entriesHere == 0xFFFF || centralSize == 0xFFFFFFFFu || centralOffset == 0xFFFFFFFFu)
        throw BuildError("ZIP64 archives are not supported");
    // A ZIP64 archive has its own end record and a 20-byte locator between the central directory and
    // this end record. The same four bytes may also end the central directory (in a comment or extra
    // field of its last header), so they count only where the directory does not reach.
    const bool locatorBefore = end >= 20 && readLe32(&b[end - 20]) == ZIP64_LOCATOR_SIGNATURE;
    if (thisDisk != 0 || centralDisk != 0 || entriesHere != entryCount)
        throw BuildError("spanned or multi-disk archives are not supported");
    if (centralSize > end)
        throw BuildError(MALFORMED + "central directory larger than the data before the end record");

    // Where the central directory really is: where the end record says, or (after a prefix) right
    // before the end record.
    uint64_t centralStart = centralOffset;
    bool atRecordedPlace = (uint64_t)centralOffset + centralSize <= end
                           && (entryCount == 0 || readLe32(&b[centralOffset]) == ZIP_CENTRAL_SIGNATURE);
    if (!atRecordedPlace) {
        centralStart = end - centralSize;
        if (centralStart < centralOffset || (entryCount != 0 && readLe32(&b[centralStart]) != ZIP_CENTRAL_SIGNATURE))
            throw BuildError(locatorBefore ? "ZIP64 archives are not supported"
                                           : MALFORMED + "no central directory where the end record points");
    }
    const uint64_t shift = centralStart - centralOffset;
    const uint64_t centralEnd = centralStart + centralSize;
    if (locatorBefore && centralEnd <= end - 20)
        throw BuildError("ZIP64 archives are not supported");

    if ((uint64_t)entryCount * ZIP_CENTRAL_HEADER_SIZE > centralSize)
        throw BuildError(MALFORMED + "the central directory is too small for the " + std::to_string(entryCount)
                         + " entries the end record counts");

    // First every header and every entry's place; no data is read until they all check out, so that a
    // file whose headers share data cannot make the tool copy or decode the same bytes over and over.
    std::vector<FoundEntry> found(entryCount);
    uint64_t p = centralStart;
    for (size_t i = 0; i < entryCount; i++) {
        p = readCentralHeader(b, p, centralEnd, i, &found[i]);
        found[i].localOffset += shift;
    }
    // Bytes left over would be headers that tools listing the directory by its size show and others not.
    if (p != centralEnd)
        throw BuildError(MALFORMED + "the central directory holds more than the " + std::to_string(entryCount)
                         + " entries the end record counts");
    for (FoundEntry& f : found)
        readLocalRecord(b, centralStart, &f);

    // The stub extracts in local-header order; two entries sharing bytes is damage (or a trick).
    std::sort(found.begin(), found.end(),
              [](const FoundEntry& x, const FoundEntry& y) { return x.localOffset < y.localOffset; });
    for (size_t i = 1; i < found.size(); i++)
        if (found[i - 1].recordEnd > found[i].localOffset)
            throw BuildError(MALFORMED + "entries " + quoted(found[i - 1].entry.name) + " and "
                             + quoted(found[i].entry.name) + " overlap");

    // Names that Windows takes for one file: the later entry would overwrite the earlier one.
    std::vector<std::string> names;
    for (const FoundEntry& f : found)
        names.push_back(f.entry.name);
    checkNamesAreDistinctOnWindows(names);

    ZipDirectory directory;
    directory.entries = std::move(found);
    directory.comment = comment;
    return directory;
}

ZipArchive readZipArchive(const std::vector<uint8_t>& b)
{
    ZipDirectory directory = readZipDirectory(b);
    std::vector<FoundEntry>& found = directory.entries;
    // The entries now take disjoint parts of the file, so their data together is no larger than it.
    ZipArchive archive;
    archive.centralOrder.resize(found.size());
    for (size_t i = 0; i < found.size(); i++) {
        takeEntryData(b, &found[i]);
        archive.centralOrder[found[i].centralIndex] = i;
        archive.entries.push_back(std::move(found[i].entry));
    }
    archive.comment = directory.comment;
    return archive;
}
