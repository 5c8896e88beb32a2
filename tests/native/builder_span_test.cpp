// Spanned sets from the building tool: the pieces are a proper spanned ZIP (disk numbers and per-piece
// offsets, records whole on one piece, the spanning signature first), and a reader that follows the
// stub's rules for a set (signature and fixed header read again from the next piece when short, names
// and the 12-byte encryption header and the 16-byte descriptor step only on the current piece, data
// running on into the next piece) gets every entry's data back, wherever the pieces are cut.
#include <gtest/gtest.h>

#include <sstream>

#include "archive/volume_rules.h"
#include "builder/build_error.h"
#include "builder/build_options.h"
#include "builder/folder_packer.h"
#include "builder/sfx_writer.h"
#include "builder/zip_span.h"
#include "builder_test_support.h"

using namespace builder_test;

namespace {

ZipArchive mixedArchive()
{
    FolderPackOptions plain, secret;
    secret.encrypt = true;
    secret.password = "geheim";
    ZipArchive a;
    ZipEntry folder;
    folder.name = "docs/";
    a.entries.push_back(folder);
    a.entries.push_back(makeFileEntry("docs/notes.txt", std::vector<uint8_t>(300, 'n'), 0x50216000, plain));
    a.entries.push_back(makeFileEntry("empty.txt", {}, 0x50216000, plain));
    a.entries.push_back(makeFileEntry("secret.txt", std::vector<uint8_t>(40, 's'), 0x50216000, secret));
    ZipEntry streamed = makeFileEntry("streamed.txt", std::vector<uint8_t>(90, 'd'), 0x50216000, plain);
    streamed.flags |= ZIP_FLAG_DESCRIPTOR; // the writer adds the 16-byte descriptor after the data
    a.entries.push_back(streamed);
    ZipEntry streamedEmpty = makeFileEntry("streamed-empty.txt", {}, 0x50216000, plain);
    streamedEmpty.flags |= ZIP_FLAG_DESCRIPTOR;
    a.entries.push_back(streamedEmpty);
    a.centralOrder = {5, 0, 1, 2, 3, 4};
    return a;
}

using Pieces = std::vector<std::vector<uint8_t>>;

// Reads the pieces as the stub does; returns each entry's data in local-header order. Fails the test
// where the stub would stop.
std::vector<std::vector<uint8_t>> readAsStub(const Pieces& pieces, size_t start)
{
    std::vector<std::vector<uint8_t>> found;
    size_t disk = 0, at = start;
    auto read = [&](size_t n) { // what one read of n bytes returns on the current piece
        size_t got = std::min(n, pieces[disk].size() - std::min(at, pieces[disk].size()));
        std::vector<uint8_t> bytes(pieces[disk].begin() + at, pieces[disk].begin() + at + got);
        at += got;
        return bytes;
    };
    auto next = [&]() {
        disk++;
        at = 0;
        return disk < pieces.size();
    };
    auto readFixed = [&](size_t n, std::vector<uint8_t>* bytes) {
        *bytes = read(n);
        if (bytes->size() == n)
            return true;
        if (!next())
            return false;
        *bytes = read(n);
        return bytes->size() == n;
    };
    for (int records = 0; records < 1000; records++) {
        std::vector<uint8_t> sig;
        if (!readFixed(4, &sig)) {
            ADD_FAILURE() << "signature short on piece " << disk;
            return found;
        }
        uint32_t s = readLe32(sig.data());
        if (s == ZIP_CENTRAL_SIGNATURE)
            return found;
        if (s != ZIP_LOCAL_SIGNATURE)
            continue; // passed over four bytes at a time
        std::vector<uint8_t> fixed;
        if (!readFixed(26, &fixed)) {
            ADD_FAILURE() << "local header short on piece " << disk;
            return found;
        }
        const uint16_t flags = readLe16(&fixed[2]);
        uint32_t unread = readLe32(&fixed[14]);
        const size_t nameAndExtra = (size_t)readLe16(&fixed[22]) + readLe16(&fixed[24]);
        if (read(nameAndExtra).size() != nameAndExtra) {
            ADD_FAILURE() << "name or extra field cut at the end of piece " << disk;
            return found;
        }
        std::vector<uint8_t> data;
        if (flags & ZIP_FLAG_ENCRYPTED) {
            std::vector<uint8_t> header = read(12);
            if (header.size() != 12) {
                ADD_FAILURE() << "encryption header not on the piece of its local header, piece " << disk;
                return found;
            }
            data = header;
            unread -= 12;
        }
        while (unread > 0) { // refillInput
            size_t n = std::min<size_t>(unread, 2048);
            std::vector<uint8_t> piece = read(n);
            if (piece.size() < n) {
                if (!next()) {
                    ADD_FAILURE() << "data runs past the last piece";
                    return found;
                }
                if (piece.empty())
                    piece = read(n);
            }
            if (piece.empty()) {
                ADD_FAILURE() << "empty piece inside an entry's data";
                return found;
            }
            data.insert(data.end(), piece.begin(), piece.end());
            unread -= (uint32_t)piece.size();
        }
        if (flags & ZIP_FLAG_DESCRIPTOR) {
            if (at + 16 > pieces[disk].size() || readLe32(&pieces[disk][at]) != ZIP_DESCRIPTOR_SIGNATURE) {
                ADD_FAILURE() << "descriptor not right after the data on piece " << disk;
                return found;
            }
            at += 16;
        }
        found.push_back(data);
    }
    ADD_FAILURE() << "no central directory";
    return found;
}

// Checks the pieces as another ZIP tool reads them: through the end record and the central directory.
void checkStructure(const ZipArchive& archive, const Pieces& pieces, uint32_t firstBase)
{
    auto base = [&](size_t disk) { return disk == 0 ? firstBase : 0; };
    ASSERT_GE(pieces[0].size(), 4u);
    EXPECT_EQ(readLe32(pieces[0].data()), pieces.size() == 1 ? ZIP_SINGLE_PIECE_MARKER : ZIP_SPANNING_SIGNATURE);
    const std::vector<uint8_t>& last = pieces.back();
    const size_t endAt = last.size() - ZIP_END_RECORD_SIZE - archive.comment.size();
    ASSERT_EQ(readLe32(&last[endAt]), ZIP_END_SIGNATURE);
    EXPECT_EQ(readLe16(&last[endAt + 4]), pieces.size() - 1) << "number of this disk";
    const size_t centralDisk = readLe16(&last[endAt + 6]);
    const uint16_t onThisDisk = readLe16(&last[endAt + 8]);
    EXPECT_EQ(readLe16(&last[endAt + 10]), archive.centralOrder.size());
    uint32_t remaining = readLe32(&last[endAt + 12]);
    size_t disk = centralDisk, at = readLe32(&last[endAt + 16]) - base(centralDisk);
    uint16_t countedOnLast = 0;
    for (size_t index : archive.centralOrder) {
        if (at == pieces[disk].size()) {
            disk++;
            at = 0;
        }
        ASSERT_LT(disk, pieces.size());
        const std::vector<uint8_t>& p = pieces[disk];
        ASSERT_LE(at + ZIP_CENTRAL_HEADER_SIZE, p.size());
        ASSERT_EQ(readLe32(&p[at]), ZIP_CENTRAL_SIGNATURE) << "central header at disk " << disk << " offset " << at;
        const size_t length = ZIP_CENTRAL_HEADER_SIZE + readLe16(&p[at + 28]) + readLe16(&p[at + 30]) + readLe16(&p[at + 32]);
        ASSERT_LE(at + length, p.size()) << "a central header is split";
        std::string name(p.begin() + at + 46, p.begin() + at + 46 + readLe16(&p[at + 28]));
        EXPECT_EQ(name, archive.entries[index].name);
        const size_t localDisk = readLe16(&p[at + 34]);
        ASSERT_LT(localDisk, pieces.size());
        const size_t local = readLe32(&p[at + 42]) - base(localDisk);
        const std::vector<uint8_t>& lp = pieces[localDisk];
        ASSERT_LE(local + ZIP_LOCAL_HEADER_SIZE, lp.size());
        EXPECT_EQ(readLe32(&lp[local]), ZIP_LOCAL_SIGNATURE) << name;
        EXPECT_LE(local + ZIP_LOCAL_HEADER_SIZE + readLe16(&lp[local + 26]) + readLe16(&lp[local + 28]), lp.size())
            << "a local header is split: " << name;
        EXPECT_EQ(std::string(lp.begin() + local + 30, lp.begin() + local + 30 + name.size()), name);
        if (disk == pieces.size() - 1)
            countedOnLast++;
        remaining -= (uint32_t)length;
        at += length;
    }
    EXPECT_EQ(remaining, 0u) << "central directory size";
    EXPECT_EQ(onThisDisk, countedOnLast);
}

TEST(SpannedZip, EveryCutKeepsRecordsWholeAndDataReadable)
{
    const ZipArchive archive = mixedArchive();
    std::vector<std::vector<uint8_t>> want;
    for (const ZipEntry& e : archive.entries)
        want.push_back(e.data);
    uint32_t single = 0;
    const size_t whole = writeZip(archive, 0, &single).size() + 4;
    // Every first-piece size from the smallest that holds a header up to one piece, with later pieces of
    // a few sizes: each cut position in the archive is met.
    for (uint32_t capacity : {100u, 137u, 250u, 1000u}) {
        for (uint32_t first = 40; first <= whole; first++) {
            SCOPED_TRACE("first piece " + std::to_string(first) + ", others " + std::to_string(capacity));
            const uint32_t firstBase = first % 2 ? 0x600 : 0; // an .EXE volume counts from its program's start
            Pieces pieces = writeSpannedZip(archive, {first, capacity, firstBase});
            ASSERT_LE(pieces[0].size(), first);
            for (size_t i = 1; i < pieces.size(); i++)
                ASSERT_LE(pieces[i].size(), capacity);
            checkStructure(archive, pieces, firstBase);
            ASSERT_EQ(readAsStub(pieces, 0), want);
            if (HasFailure())
                return;
        }
    }
}

TEST(SpannedZip, RecordLargerThanADiskIsRefused)
{
    ZipArchive a = mixedArchive();
    a.entries[1].name = "docs/" + std::string(200, 'n') + ".txt";
    EXPECT_THROW(writeSpannedZip(a, {100, 200, 0}), BuildError) << "a 239-byte local header";
    EXPECT_THROW(writeSpannedZip(mixedArchive(), {60, 60, 0}), BuildError) << "more than 999 disks or a record too large";
}

struct Block {
    uint32_t archiveOffset, headerOffset, endRecordOffset, totalSize, flags;
};

Block blockOf(const std::vector<uint8_t>& file)
{
    const size_t at = findUniqueBlock(file);
    return {readLe32(&file[at + 12]), readLe32(&file[at + 16]), readLe32(&file[at + 20]), readLe32(&file[at + 24]),
            readLe32(&file[at + 28])};
}

TEST(SpannedSet, ParameterBlockPointsWhereTheStubReads)
{
    const ZipArchive archive = mixedArchive();
    SfxSettings settings;
    settings.info = u"span";
    {
        SCOPED_TRACE(".EXE volumes");
        SpannedSet set = buildSpannedSet(makeFakeStub(), archive, settings, 0x900, false);
        ASSERT_GE(set.volumes.size(), 2u);
        EXPECT_EQ(set.volumes[0], set.program);
        Block b = blockOf(set.program);
        EXPECT_EQ(b.flags & (SFXF_SPANNED | SFXF_EXE_VOLUMES | SFXF_ASK_PASSWORD),
                  (uint32_t)(SFXF_SPANNED | SFXF_EXE_VOLUMES | SFXF_ASK_PASSWORD));
        EXPECT_EQ(b.endRecordOffset, 0u);
        EXPECT_EQ(b.totalSize, totalUncompressedSize(archive));
        EXPECT_EQ(b.archiveOffset - b.headerOffset, buildSfxHeader(settings).size());
        ASSERT_LT(b.archiveOffset + 4, set.program.size());
        EXPECT_EQ(readLe32(&set.program[b.archiveOffset]), ZIP_SPANNING_SIGNATURE);
        for (const auto& v : set.volumes)
            EXPECT_LE(v.size(), 0x900u);
        // The first piece follows the program's header; its offsets count from the program's start.
        Pieces pieces = set.volumes;
        pieces[0].erase(pieces[0].begin(), pieces[0].begin() + b.archiveOffset);
        checkStructure(archive, pieces, b.archiveOffset);
        EXPECT_EQ(readAsStub(set.volumes, b.archiveOffset).size(), archive.entries.size());
    }
    {
        SCOPED_TRACE(".ZIP volumes");
        SpannedSet set = buildSpannedSet(makeFakeStub(), archive, settings, 0x900, true);
        Block b = blockOf(set.program);
        EXPECT_EQ(b.flags & (SFXF_SPANNED | SFXF_EXE_VOLUMES), (uint32_t)SFXF_SPANNED);
        EXPECT_EQ(b.endRecordOffset, 0u);
        EXPECT_EQ(b.archiveOffset, set.program.size()) << "the program ends with its header";
        EXPECT_LE(set.program.size() + set.volumes[0].size(), 0x900u) << "disk 1 holds the program and piece 1";
        checkStructure(archive, set.volumes, 0);
        EXPECT_EQ(readAsStub(set.volumes, 0).size(), archive.entries.size());
    }
}

TEST(SpannedSet, RefusedSettings)
{
    SfxSettings full;
    full.crc = CrcRange::Full;
    EXPECT_THROW(buildSpannedSet(makeFakeStub(), mixedArchive(), full, 0x900, false), UsageError)
        << "a full-range CRC needs a tail after the archive";
    EXPECT_NO_THROW(buildSpannedSet(makeFakeStub(), mixedArchive(), full, 0x900, true));
    EXPECT_THROW(buildSpannedSet(makeFakeStub(), mixedArchive(), SfxSettings(), 0x700, false), BuildError)
        << "no room beside the stub";

    struct Case {
        std::vector<std::string> args;
    } usage[] = {
        {{"--zip-volumes", "-o", "setup.exe", "in"}},
        {{"--span", "0", "-o", "setup.exe", "in"}},
        {{"--span", "12k", "-o", "setup.exe", "in"}},
        {{"--span", "3000000000", "-o", "setup.exe", "in"}},
        {{"--span", "100000", "-o", "setup", "in"}},
    };
    for (const Case& c : usage) {
        std::ostringstream out;
        std::string error;
        EXPECT_EQ(runTool(c.args, "", out, &error), 2) << c.args[0] << " " << c.args[1] << ": " << error;
    }
}

TEST(SpannedSet, LabelsAndNamesAgreeWithTheStub)
{
    for (uint32_t disk : {1u, 12u, 999u}) {
        std::string label = diskLabel(disk);
        EXPECT_LE(label.size(), 11u) << "a FAT volume label";
        std::wstring wide(label.begin(), label.end());
        EXPECT_EQ(parseVolumeLabel(wide.c_str()), disk) << label;
    }
    EXPECT_EQ(diskLabel(1), "PKBACK# 001");
    EXPECT_EQ(zipVolumeName("SETUP.EXE"), "SETUP.ZIP");
    EXPECT_EQ(zipVolumeName("setup.exe"), "setup.zip");
}

} // namespace
