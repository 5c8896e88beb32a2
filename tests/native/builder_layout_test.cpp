// The layout of a built self-extracting file, read back independently of the writer: the new last
// section and the PE fields it changes, the parameter block, the header texts, the ZIP offsets counted
// from the start of the file, the three header CRC ranges, and the stubs and texts the writer refuses.
// Independent readers (Info-ZIP unzip, python's zipfile, 7z, osslsigncode) must accept the result.
#include <gtest/gtest.h>

#include <string.h>

#include "builder/build_error.h"
#include "builder/folder_packer.h"
#include "builder/sfx_check.h"
#include "builder/sfx_writer.h"
#include "builder_test_support.h"
#include "decode/crc32.h"

using namespace builder_test;

namespace {

const uint32_t SECTION_TABLE = 0x178; // in the fake stub
const uint32_t OPTIONAL_HEADER = 0x98;
const uint32_t BLOCK = 0x400;

ZipArchive smallArchive()
{
    FolderPackOptions plain;
    ZipArchive a;
    ZipEntry folder;
    folder.name = "docs/";
    a.entries.push_back(folder);
    a.entries.push_back(makeFileEntry("docs/notes.txt", std::vector<uint8_t>(5000, 'n'), 0x50216000, plain));
    a.entries.push_back(makeFileEntry("hello.txt", {'h', 'i'}, 0x50216000, plain));
    a.centralOrder = {0, 1, 2};
    return a;
}

// The block's fields, copied out of the packed record so that assertions can bind to them.
struct Block {
    uint32_t headerCrc, archiveOffset, headerOffset, endRecordOffset, totalSize, flags, completeMarker, entryPoint;
};

Block blockOf(const std::vector<uint8_t>& file)
{
    StubParameterBlock p;
    memcpy(&p, &file[BLOCK], sizeof p);
    return {p.headerCrc, p.archiveOffset, p.headerOffset, p.endRecordOffset, p.totalSize, p.flags, p.completeMarker,
            p.entryPoint};
}

std::u16string text16(const wchar_t* text)
{
    std::u16string out;
    while (*text)
        out.push_back((char16_t)*text++);
    return out;
}

// Runs the independent ZIP readers and osslsigncode's checksum check on a file; returns what failed.
std::string externalComplaints(const std::vector<uint8_t>& file, const TempDir& dir)
{
    fs::path exe = dir / "out.exe";
    fs::path log = dir / "tools.log";
    writeFile(exe, file);
    std::string failed;
    if (run("unzip -tq '" + exe.string() + "'", log) != 0)
        failed += " unzip";
    if (run("python3 -c \"import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" '"
                + exe.string() + "'", log) != 0)
        failed += " python";
    if (run("7z t -tzip '" + exe.string() + "'", log) != 0)
        failed += " 7z";
    run("osslsigncode verify '" + exe.string() + "'", log);
    if (logText(log).find("invalid PE checksum") != std::string::npos)
        failed += " pe-checksum";
    return failed.empty() ? failed : failed + "\n" + logText(log);
}

} // namespace

TEST(BuilderLayout, SectionBlockTextsAndZipOffsetsReadBack)
{
    SfxSettings s;
    s.folder = u"C:\\Doel ë\\";
    s.message = u"Uitpakken?";
    s.caption = u"Titel";
    s.info = u"--auto --overwrite";
    s.flags = SFXF_AUTO | SFXF_OVERWRITE_DEFAULT | SFXF_HAS_CAPTION;
    ZipArchive archive = smallArchive();
    std::vector<uint8_t> f = buildSelfExtractor(makeFakeStub(), archive, s);

    // PE: one more section, named _arklet_, placed at the end of the stub rounded up to a page (so that a
    // loader can map it rather than read it) and ending the file.
    EXPECT_EQ(readLe16(&f[0x86]), 3);
    const uint8_t* sec = &f[SECTION_TABLE + 2 * 40];
    EXPECT_EQ(std::string((const char*)sec, 8), "_arklet_");
    uint32_t virtualSize = readLe32(sec + 8), va = readLe32(sec + 12);
    uint32_t rawSize = readLe32(sec + 16), raw = readLe32(sec + 20);
    EXPECT_EQ(va, 0x3000u);
    EXPECT_EQ(raw, 0x1000u) << "the fake stub ends at 0x600";
    EXPECT_EQ(rawSize % 0x200, 0u) << rawSize;
    EXPECT_EQ(raw + rawSize, f.size());
    EXPECT_EQ(readLe32(&f[OPTIONAL_HEADER + 56]), (va + virtualSize + 0xFFF) / 0x1000 * 0x1000) << "SizeOfImage";
    EXPECT_EQ(readLe32(&f[OPTIONAL_HEADER + 8]), 0x200 + rawSize) << "SizeOfInitializedData";

    // The block.
    Block b = blockOf(f);
    EXPECT_EQ(b.completeMarker, 0xFFFFu);
    EXPECT_EQ(b.entryPoint, 0x1000u);
    EXPECT_EQ(b.totalSize, 5002u);
    EXPECT_EQ(b.flags, (uint32_t)(SFXF_AUTO | SFXF_OVERWRITE_DEFAULT | SFXF_HAS_CAPTION | SFXF_CRC_AFTER_HEADERS));
    EXPECT_GE(b.headerOffset, raw);

    // The header: the five texts as the stub reads them.
    SfxTexts texts;
    ASSERT_TRUE(parseSfxHeader(&f[b.headerOffset], b.archiveOffset - b.headerOffset, true, &texts));
    EXPECT_EQ(text16(texts.targetFolder), s.folder);
    EXPECT_EQ(text16(texts.startupText), s.message);
    EXPECT_EQ(text16(texts.caption), s.caption);
    EXPECT_EQ(text16(texts.infoText), s.info);

    // The ZIP: first local header at archiveOffset, end record at endRecordOffset and at the file's end,
    // every offset counting from the start of the file.
    EXPECT_EQ(readLe32(&f[b.archiveOffset]), 0x04034B50u);
    ASSERT_EQ(readLe32(&f[b.endRecordOffset]), 0x06054B50u);
    EXPECT_EQ(b.endRecordOffset + 22, f.size());
    uint32_t central = readLe32(&f[b.endRecordOffset + 16]);
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(readLe32(&f[central]), 0x02014B50u) << "central header " << i;
        uint32_t local = readLe32(&f[central + 42]);
        uint16_t nameLength = readLe16(&f[central + 28]);
        ASSERT_EQ(readLe32(&f[local]), 0x04034B50u) << "local header " << i;
        EXPECT_EQ(std::string((const char*)&f[local + 30], nameLength), archive.entries[i].name);
        central += 46 + nameLength + readLe16(&f[central + 30]) + readLe16(&f[central + 32]);
    }

    TempDir dir;
    EXPECT_EQ(externalComplaints(f, dir), "");
}

TEST(BuilderLayout, HeaderCrcRangesCheckOutAndKeepThePeChecksum)
{
    buildCrcTable();
    const uint8_t signature[8] = SFX_BLOCK_SIGNATURE_BYTES;
    const struct {
        CrcRange range;
        bool afterHeadersFlag;
    } cases[] = {{CrcRange::AfterHeaders, true}, {CrcRange::Full, false}, {CrcRange::None, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "range " << (int)c.range);
        SfxSettings s;
        s.crc = c.range;
        std::vector<uint8_t> f = buildSelfExtractor(makeFakeStub(), smallArchive(), s);
        Block b = blockOf(f);
        EXPECT_EQ((b.flags & SFXF_CRC_AFTER_HEADERS) != 0, c.afterHeadersFlag);
        if (c.range == CrcRange::None) {
            EXPECT_EQ(b.headerCrc, 0u);
        } else {
            uint32_t expected = 0;
            ASSERT_TRUE(computeHeaderCrc(f.data(), b.archiveOffset, signature, c.afterHeadersFlag, &expected));
            EXPECT_EQ(b.headerCrc, expected);
        }
        EXPECT_EQ(inspectSelfExtractor(f).failures, "");
        TempDir dir;
        EXPECT_EQ(externalComplaints(f, dir), ""); // includes the PE checksum, recomputed by osslsigncode
    }
}

// Authenticode signing changes the checksum and the certificate entry and appends after the archive:
// outside the after-headers range, inside the full range.
TEST(BuilderLayout, SigningKeepsTheAfterHeadersCrc)
{
    if (!haveTool("osslsigncode") || !haveTool("openssl"))
        GTEST_SKIP() << "osslsigncode or openssl missing";
    TempDir dir;
    fs::path log = dir / "sign.log";
    ASSERT_EQ(run("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=test -days 2 -keyout '" + (dir / "k.pem").string()
                      + "' -out '" + (dir / "c.pem").string() + "'",
                  log),
              0)
        << logText(log);
    const struct {
        CrcRange range;
        std::string failures;
    } cases[] = {{CrcRange::AfterHeaders, ""}, {CrcRange::Full, "header CRC"}};
    for (const auto& c : cases) {
        SfxSettings s;
        s.crc = c.range;
        writeFile(dir / "in.exe", buildSelfExtractor(makeFakeStub(), smallArchive(), s));
        fs::remove(dir / "signed.exe");
        ASSERT_EQ(run("osslsigncode sign -certs '" + (dir / "c.pem").string() + "' -key '" + (dir / "k.pem").string()
                          + "' -in '" + (dir / "in.exe").string() + "' -out '" + (dir / "signed.exe").string() + "'",
                      log),
                  0)
            << logText(log);
        std::vector<uint8_t> signedFile = readFile(dir / "signed.exe");
        EXPECT_EQ(inspectSelfExtractor(signedFile).failures, c.failures) << "range " << (int)c.range;
        EXPECT_EQ(run("unzip -tq '" + (dir / "signed.exe").string() + "'", log), 0) << logText(log);
    }
}

TEST(BuilderLayout, RefusesUnusableStubs)
{
    const struct {
        const char* label;
        StubShape shape;
        const char* message;
    } cases[] = {
        {"no signature", {0, false, false, false}, "no parameter block"},
        {"two signatures", {2, false, false, false}, "more than once"},
        {"table full up to the first section", {1, true, false, false}, "no room for one more section header"},
        {"bytes after the table in use", {1, false, true, false}, "no free room"},
        {"already signed", {1, false, false, true}, "stub is signed"},
        {"already signed, x86-64", {1, false, false, true, true}, "stub is signed"},
    };
    for (const auto& c : cases) {
        try {
            buildSelfExtractor(makeFakeStub(c.shape), smallArchive(), SfxSettings());
            ADD_FAILURE() << c.label << ": accepted";
        } catch (const BuildError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.label << ": " << e.what();
        }
    }
    std::vector<uint8_t> notPe = makeFakeStub();
    notPe[0x80] = 'X';
    EXPECT_THROW(buildSelfExtractor(notPe, smallArchive(), SfxSettings()), BuildError);
    std::vector<uint8_t> mixed = makeFakeStub();
    writeLe16(&mixed[0x98], 0x20B); // PE32+ magic on a 224-byte optional header
    EXPECT_THROW(buildSelfExtractor(mixed, smallArchive(), SfxSettings()), BuildError);
}

// The x86-64 build of the stub (used to run the Windows tests where 32-bit programs cannot run) has the
// longer PE32+ optional header: the section table, the directories and so the new section's header move.
TEST(BuilderLayout, X64StubGetsTheSameLayout)
{
    StubShape plus;
    plus.pe32Plus = true;
    const std::vector<uint8_t> f = buildSelfExtractor(makeFakeStub(plus), smallArchive(), SfxSettings());
    const uint8_t* sec = &f[0x188 + 2 * 40];
    EXPECT_EQ(std::string((const char*)sec, 8), "_arklet_");
    EXPECT_EQ(readLe32(sec + 20), 0x1000u);
    EXPECT_EQ(readLe32(sec + 20) + readLe32(sec + 16), f.size());
    EXPECT_EQ(inspectSelfExtractor(f).failures, "");
    TempDir dir;
    EXPECT_EQ(externalComplaints(f, dir), "");
}

TEST(BuilderLayout, HeaderTextLimitsAreTheStubsBuffers)
{
    const struct {
        std::u16string SfxSettings::*text;
        size_t length;
        bool accepted;
    } cases[] = {
        {&SfxSettings::folder, 260, true},   {&SfxSettings::folder, 261, false},
        {&SfxSettings::message, 513, true},  {&SfxSettings::message, 514, false},
        {&SfxSettings::caption, 64, true},   {&SfxSettings::caption, 65, false},
        {&SfxSettings::info, 511, true},     {&SfxSettings::info, 512, false},
    };
    for (const auto& c : cases) {
        SfxSettings s;
        s.*(c.text) = std::u16string(c.length, u'x');
        bool accepted = true;
        try {
            buildSfxHeader(s);
        } catch (const UsageError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, c.accepted) << "length " << c.length;
    }
    // Each text within its buffer, but together over the 2,512 bytes the stub reads.
    SfxSettings all;
    all.folder = std::u16string(260, u'f');
    all.message = std::u16string(513, u'm');
    all.caption = std::u16string(64, u'c');
    all.info = std::u16string(511, u'i');
    EXPECT_THROW(buildSfxHeader(all), UsageError);
}

TEST(BuilderInspect, NamesEachFailedStartupCheck)
{
    std::vector<uint8_t> good = buildSelfExtractor(makeFakeStub(), smallArchive(), SfxSettings());
    Block b = blockOf(good);
    const struct {
        const char* label;
        uint32_t offset;
        const char* failure;
    } cases[] = {
        {"byte in the section table", SECTION_TABLE + 1, "header CRC"},
        {"AddressOfEntryPoint", OPTIONAL_HEADER + 16, "entry point"},
        {"end record signature", b.endRecordOffset + 3, "end record"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> f = good;
        f[c.offset] ^= 0x40;
        EXPECT_EQ(inspectSelfExtractor(f).failures, c.failure) << c.label;
    }
    // A byte before the section table is outside the after-headers range (the DOS stub area).
    std::vector<uint8_t> f = good;
    f[0x50] ^= 1;
    EXPECT_EQ(inspectSelfExtractor(f).failures, "");
    EXPECT_NE(inspectSelfExtractor(makeFakeStub()).failures.find("complete marker"), std::string::npos);
}
