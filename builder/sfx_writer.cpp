#include "sfx_writer.h"

#include <string.h>

#include <algorithm>
#include <functional>

#include "../decode/crc32.h"
#include "../startup/payload_format.h"
#include "build_error.h"
#include "pe_image.h"
#include "zip_span.h"

const uint8_t blockSignature[8] = SFX_BLOCK_SIGNATURE_BYTES;
const char sfxSectionName[8] = {'_', 'a', 'r', 'k', 'l', 'e', 't', '_'};

enum : uint32_t {
    OUTPUT_LIMIT = 0x80000000u, // the stub seeks with signed 32-bit offsets
    COMPLETE_MARKER = 0xFFFF,
};

static void appendText(std::vector<uint8_t>& out, const std::u16string& text, uint32_t maxUnits, const char* option)
{
    if (text.size() > maxUnits)
        throw UsageError(std::string(option) + " text has " + std::to_string(text.size())
                         + " UTF-16 units; the stub holds at most " + std::to_string(maxUnits));
    for (char16_t c : text) {
        out.push_back((uint8_t)c);
        out.push_back((uint8_t)(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

std::vector<uint8_t> buildSfxHeader(const SfxSettings& s)
{
    std::vector<uint8_t> header;
    appendText(header, s.folder, PATH_UNITS - 1, "--folder");
    appendText(header, s.runCommand, RUN_COMMAND_UNITS - 1, "--run");
    appendText(header, s.message, STARTUP_TEXT_UNITS - 1, "--message");
    appendText(header, s.caption, CAPTION_UNITS - 1, "--caption");
    appendText(header, s.info, INFO_TEXT_UNITS - 1, "--info");
    if (header.size() > SFX_HEADER_MAX_BYTES)
        throw UsageError("the header texts take " + std::to_string(header.size())
                         + " bytes; the stub reads at most 2512");
    return header;
}

uint32_t findUniqueBlock(const std::vector<uint8_t>& stub)
{
    long first = findBlockSignature(stub.data(), (uint32_t)stub.size(), blockSignature);
    if (first < 0)
        throw BuildError("stub has no parameter block (signature not found)");
    long second = findBlockSignature(stub.data() + first + 1, (uint32_t)(stub.size() - first - 1), blockSignature);
    if (second >= 0)
        throw BuildError("stub holds the parameter block signature more than once");
    if ((size_t)first + sizeof(StubParameterBlock) > stub.size())
        throw BuildError("stub's parameter block is cut off");
    return (uint32_t)first;
}

// The block is read by the stub from its loaded image: it must lie in some section's file data.
static void checkBlockInSection(const PeLayout& pe, uint32_t block)
{
    for (const PeSection& s : pe.sections)
        if (block >= s.pointerToRawData && block + sizeof(StubParameterBlock) <= s.pointerToRawData + s.sizeOfRawData
            && block + sizeof(StubParameterBlock) <= s.pointerToRawData + s.virtualSize)
            return;
    throw BuildError("stub's parameter block does not lie in a section's initialised data");
}

// Where the last section's raw data starts: the stub's end rounded up to FileAlignment and, for a single
// file, to a page. On a page boundary a loader can map the section instead of reading it: Wine reads a
// section whose data does not start on one in full at every start (a 70 MB payload twice: in the started
// file and in its private copy), and what it reads stays in the process's working set. A spanned set keeps
// FileAlignment: its programs run from removable disks, which are read anyway, and every byte of the first
// disk counts.
static uint64_t sectionRawStart(size_t stubSize, uint32_t fileAlignment, bool onPage)
{
    const uint32_t PAGE = 0x1000;
    const uint32_t end = alignUp((uint32_t)std::min<size_t>(stubSize, OUTPUT_LIMIT), fileAlignment);
    return onPage ? alignUp(end, PAGE) : end;
}

static void put32At(std::vector<uint8_t>& file, uint32_t offset, uint32_t value)
{
    writeLe32(&file[offset], value);
}

// What goes into the last section after the SfxHeader: its size (the same for every archiveOffset) and
// the bytes for a given archiveOffset, appended to the file (so that the archive is not held twice), with
// the end record's position within them (none: no check).
struct SectionArchive {
    uint64_t size;
    std::function<void(uint32_t archiveOffset, std::vector<uint8_t>& file, uint32_t* endRecordPos)> write;
    bool tailAllowed;     // bytes after the archive do not disturb the stub
    bool endRecordInside; // endRecordPos is the end record's place (a single file); else 0 is stored
    bool onPage;          // the section's raw data starts on a page boundary (a single file)
};

// The stub with its last section (padding, SfxHeader, archive bytes), the parameter block filled in and
// the header CRC and PE checksum computed.
static std::vector<uint8_t> joinStub(const std::vector<uint8_t>& stub, const SectionArchive& archive,
                                     const SfxSettings& settings, uint64_t totalSize, uint32_t extraFlags)
{
    buildCrcTable();
    if (stub.size() >= OUTPUT_LIMIT)
        throw BuildError("stub is too large");
    const PeLayout pe = parsePe(stub);
    if (pe.certificateOffset != 0 || pe.certificateSize != 0)
        throw BuildError("stub is signed; sign the finished self-extracting file instead");
    const uint32_t block = findUniqueBlock(stub);
    checkBlockInSection(pe, block);

    if (totalSize > 0xFFFFFFFFu)
        throw BuildError("the archive's files add up to 4 GiB or more");
    const std::vector<uint8_t> header = buildSfxHeader(settings);

    // Place the section: padding in front of the header, or (full CRC range) a tail for the balancing word.
    const uint64_t zipSize = archive.size;
    const uint32_t fa = pe.fileAlignment;
    const uint64_t rawStart = sectionRawStart(stub.size(), fa, archive.onPage);
    const uint64_t contentSize = header.size() + zipSize;
    if (rawStart + contentSize + 2 * fa >= OUTPUT_LIMIT)
        throw BuildError("the self-extracting file would be 2 GiB or larger");
    const bool full = settings.crc == CrcRange::Full;
    if (full && !archive.tailAllowed)
        throw UsageError("--crc full needs room after the archive, which a set with .EXE volumes does not "
                         "have; use --zip-volumes or another --crc");
    const uint32_t content = (uint32_t)contentSize;
    const uint32_t front = full ? 0 : alignUp(content, fa) - content;
    const uint32_t tail = full ? alignUp(content + 3, fa) - content : 0; // room for a word at an even offset
    const uint32_t rawSize = front + content + tail;
    const uint32_t headerOffset = (uint32_t)rawStart + front;
    const uint32_t archiveOffset = headerOffset + (uint32_t)header.size();

    uint32_t endRecordPos = 0;
    std::vector<uint8_t> file;
    file.reserve((size_t)rawStart + rawSize);
    file.assign(stub.begin(), stub.end());
    file.resize(headerOffset, 0);
    file.insert(file.end(), header.begin(), header.end());
    archive.write(archiveOffset, file, &endRecordPos);
    if (file.size() != (size_t)archiveOffset + zipSize)
        throw BuildError("internal error: the archive's size depends on its offset");
    file.resize(file.size() + tail, 0);
    appendSectionHeader(file, pe, sfxSectionName, (uint32_t)rawStart, rawSize);

    uint32_t flags = (settings.flags | extraFlags) & ~(uint32_t)SFXF_CRC_AFTER_HEADERS;
    if (settings.crc == CrcRange::AfterHeaders)
        flags |= SFXF_CRC_AFTER_HEADERS;
    put32At(file, block + offsetof(StubParameterBlock, headerCrc), 0);
    put32At(file, block + offsetof(StubParameterBlock, archiveOffset), archiveOffset);
    put32At(file, block + offsetof(StubParameterBlock, headerOffset), headerOffset);
    put32At(file, block + offsetof(StubParameterBlock, endRecordOffset), archive.endRecordInside ? archiveOffset + endRecordPos : 0);
    put32At(file, block + offsetof(StubParameterBlock, totalSize), (uint32_t)totalSize);
    put32At(file, block + offsetof(StubParameterBlock, flags), flags);
    writeLe16(&file[block + offsetof(StubParameterBlock, completeMarker)], COMPLETE_MARKER);
    put32At(file, block + offsetof(StubParameterBlock, entryPoint), pe.entryPoint);

    const uint32_t crcField = block + offsetof(StubParameterBlock, headerCrc);
    uint32_t crc = 0;
    if (settings.crc == CrcRange::None) {
        put32At(file, pe.checksumOffset, peChecksum(file.data(), file.size(), pe.checksumOffset));
    } else if (settings.crc == CrcRange::AfterHeaders) {
        // The checksum lies before the section table, outside this range: CRC first, then checksum.
        if (!computeHeaderCrc(file.data(), archiveOffset, blockSignature, true, &crc))
            throw BuildError("internal error: the header CRC range is not usable");
        put32At(file, crcField, crc);
        put32At(file, pe.checksumOffset, peChecksum(file.data(), file.size(), pe.checksumOffset));
    } else {
        const uint32_t checksum = peChecksum(file.data(), file.size(), pe.checksumOffset);
        put32At(file, pe.checksumOffset, checksum);
        if (!computeHeaderCrc(file.data(), archiveOffset, blockSignature, false, &crc))
            throw BuildError("internal error: the header CRC range is not usable");
        put32At(file, crcField, crc);
        // Balance the CRC's two words (sum modulo 0xFFFF, the ones' complement sum) with one word in the tail.
        uint32_t added = ((crc & 0xFFFF) + (crc >> 16)) % 0xFFFF;
        uint32_t balance = (0xFFFF - added) % 0xFFFF;
        uint32_t balanceOffset = (uint32_t)(headerOffset + content + 1) & ~1u;
        writeLe16(&file[balanceOffset], balance);
        if (peChecksum(file.data(), file.size(), pe.checksumOffset) != checksum)
            throw BuildError("internal error: the balanced PE checksum does not check out");
    }
    return file;
}

std::vector<uint8_t> buildSelfExtractor(const std::vector<uint8_t>& stub, const ZipArchive& archive,
                                        const SfxSettings& settings)
{
    SectionArchive section;
    section.size = zipSize(archive);
    section.write = [&](uint32_t archiveOffset, std::vector<uint8_t>& file, uint32_t* end) {
        appendZip(archive, archiveOffset, file, end);
    };
    section.tailAllowed = true;
    section.endRecordInside = true;
    section.onPage = true;
    return joinStub(stub, section, settings, totalUncompressedSize(archive),
                    hasEncryptedEntry(archive) ? (uint32_t)SFXF_ASK_PASSWORD : 0u);
}

// With .EXE volumes the first disk's program holds the first piece after its SfxHeader, and the first
// piece's offsets count from the start of that program, as they do in a single self-extracting file; the
// stub seeks to archiveOffset, where the spanning signature stands. With .ZIP volumes the program ends
// with its SfxHeader and every piece is a file of its own whose offsets count from its byte 0, where the
// stub begins its walk. endRecordOffset is 0 either way: the stub does not check it for a set.
SpannedSet buildSpannedSet(const std::vector<uint8_t>& stub, const ZipArchive& archive, const SfxSettings& settings,
                           uint32_t span, bool zipVolumes)
{
    const PeLayout pe = parsePe(stub);
    const uint32_t fa = pe.fileAlignment;
    const uint64_t rawStart = sectionRawStart(stub.size(), fa, false);
    const size_t headerSize = buildSfxHeader(settings).size();
    const uint64_t totalSize = totalUncompressedSize(archive);
    const uint32_t flags = SFXF_SPANNED | (zipVolumes ? 0u : (uint32_t)SFXF_EXE_VOLUMES)
                           | (hasEncryptedEntry(archive) ? (uint32_t)SFXF_ASK_PASSWORD : 0u);
    const uint32_t minimumPiece = 4 + ZIP_LOCAL_HEADER_SIZE;

    SpannedSet set;
    SpanLimits limits;
    limits.capacity = span;
    if (zipVolumes) {
        SectionArchive none;
        none.size = 0;
        none.write = [](uint32_t, std::vector<uint8_t>&, uint32_t* end) { *end = 0; };
        none.tailAllowed = true;
        none.endRecordInside = false;
        none.onPage = false;
        set.program = joinStub(stub, none, settings, totalSize, flags);
        if (set.program.size() + minimumPiece > span)
            throw BuildError("--span " + std::to_string(span) + " leaves no room on the first disk beside the "
                             + std::to_string(set.program.size()) + "-byte program");
        limits.firstCapacity = span - (uint32_t)set.program.size();
        limits.firstBase = 0;
        set.volumes = writeSpannedZip(archive, limits);
        return set;
    }
    // The program's size is its stub, then the section rounded up to FileAlignment.
    const uint64_t room = span > rawStart ? (span - rawStart) / fa * fa : 0;
    if (room < headerSize + minimumPiece)
        throw BuildError("--span " + std::to_string(span) + " leaves no room on the first disk beside the stub and "
                         "its header");
    limits.firstCapacity = (uint32_t)(room - headerSize);
    limits.firstBase = 0;
    const uint64_t firstSize = writeSpannedZip(archive, limits)[0].size();
    SectionArchive first;
    first.size = firstSize;
    first.write = [&](uint32_t archiveOffset, std::vector<uint8_t>& file, uint32_t* end) {
        SpanLimits placed = limits;
        placed.firstBase = archiveOffset;
        set.volumes = writeSpannedZip(archive, placed);
        *end = 0;
        file.insert(file.end(), set.volumes[0].begin(), set.volumes[0].end());
    };
    first.tailAllowed = false;
    first.endRecordInside = false;
    first.onPage = false;
    set.program = joinStub(stub, first, settings, totalSize, flags);
    set.volumes[0] = set.program;
    return set;
}
