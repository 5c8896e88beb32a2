// ZIP input from any producer: what the tool refuses (one hand-made archive per refusal, built field by
// field), what it repairs on the way (a prefix with unadjusted offsets, unsigned data descriptors), and
// real archives from Info-ZIP zip, 7z and python's zipfile, checked after building with Info-ZIP unzip.
#include <gtest/gtest.h>

#include <functional>

#include "builder/build_error.h"
#include "builder/sfx_writer.h"
#include "builder/zip_reader.h"
#include "builder_test_support.h"

using namespace builder_test;

namespace {

std::string refusalOf(const std::vector<uint8_t>& zip)
{
    try {
        readZipArchive(zip);
        return "";
    } catch (const BuildError& e) {
        return e.what();
    }
}

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += s;
    return out;
}

} // namespace

TEST(BuilderZipInput, RefusesWhatTheStubCannotExtract)
{
    using Change = std::function<void(std::vector<FixtureEntry>&, FixtureEnd&)>;
    const struct {
        const char* label;
        Change change;
        const char* refusal; // a part of the message; empty = accepted
    } cases[] = {
        {"plain stored entry", [](auto&, auto&) {}, ""},
        {"bzip2 (method 12)", [](auto& e, auto&) { e[0].method = 12; }, "compression method 12"},
        {"AES (method 99)", [](auto& e, auto&) { e[0].method = 99; e[0].flags = 1; e[0].data = std::string(20, 'x'); }, "AES"},
        {"strong encryption (bit 6)", [](auto& e, auto&) { e[0].flags = 0x41; e[0].data = std::string(20, 'x'); }, "strong encryption"},
        {"encrypted central directory (bit 13)", [](auto& e, auto&) { e[0].flags = 0x2000; }, "encrypted central directory"},
        {"ZIP64 size marker", [](auto& e, auto&) { e[0].compressedSize = 0xFFFFFFFF; }, "ZIP64"},
        {"ZIP64 entry count", [](auto&, auto& end) { end.entries = end.entriesHere = 0xFFFF; }, "ZIP64"},
        {"ZIP64 locator", [](auto&, auto& end) { end.zip64Locator = true; }, "ZIP64"},
        {"end record on disk 1", [](auto&, auto& end) { end.thisDisk = end.centralDisk = 1; }, "multi-disk"},
        {"entry starting on disk 2", [](auto& e, auto&) { e[0].diskStart = 2; }, "multi-disk"},
        {"uncompressed size 2^31", [](auto& e, auto&) { e[0].uncompressedSize = 0x80000000u; }, "2 GiB"},
        {"compressed size 2^31", [](auto& e, auto&) { e[0].compressedSize = 0x80000000u; }, "2 GiB"},
        {"name of 259 characters", [](auto& e, auto&) { e[0].name = std::string(259, 'n'); }, ""},
        {"name of 260 characters", [](auto& e, auto&) { e[0].name = std::string(260, 'n'); }, "259 characters"},
        {"UTF-8 name of 131 characters in 262 bytes", [](auto& e, auto&) { e[0].name = repeat("\xC3\xA9", 131); e[0].flags = 0x800; }, ""},
        {"UTF-8 name of 132 characters in 264 bytes", [](auto& e, auto&) { e[0].name = repeat("\xC3\xA9", 132); e[0].flags = 0x800; }, "263 bytes"},
        {"malformed UTF-8 name with bit 11", [](auto& e, auto&) { e[0].name = "a\xC3("; e[0].flags = 0x800; }, "not valid UTF-8"},
        {"name climbing out with ..", [](auto& e, auto&) { e[0].name = "docs/../../evil.txt"; }, "outside the target"},
        {"name with a drive", [](auto& e, auto&) { e[0].name = "C:evil.txt"; }, "outside the target"},
        {"device name", [](auto& e, auto&) { e[0].name = "sub/con.txt"; }, "device"},
        {"alternate data stream", [](auto& e, auto&) { e[0].name = "a.txt:hidden"; }, "':'"},
        {"trailing dot", [](auto& e, auto&) { e[0].name = "a."; }, "trailing dot"},
        {"encrypted entry under 12 bytes", [](auto& e, auto&) { e[0].flags = 1; }, "encryption header"},
        {"broken local header signature", [](auto& e, auto&) { e[0].localSignature = 0x04034B51; }, "no local header"},
        {"data runs into the central directory", [](auto& e, auto&) { e[0].compressedSize = 60; }, "central directory"},
        {"two entries on the same local header",
         [](auto& e, auto&) {
             e.push_back(e[0]);
             e[1].name = "b.txt";
             e[1].localOffsetDelta = (uint32_t)-40; // back onto the first entry's 40-byte record
         },
         "overlap"},
        {"end record points into nowhere", [](auto&, auto& end) { end.centralOffset = 3; }, "malformed"},
    };
    for (const auto& c : cases) {
        std::vector<FixtureEntry> entries(1);
        FixtureEnd end;
        c.change(entries, end);
        std::string refusal = refusalOf(makeZip(entries, end));
        if (*c.refusal == 0)
            EXPECT_EQ(refusal, "") << c.label;
        else
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.label << ": got \"" << refusal << "\"";
    }
    std::vector<uint8_t> whole = makeZip(std::vector<FixtureEntry>(1));
    for (size_t cut : {0, 21, 30, 60})
        EXPECT_NE(refusalOf(std::vector<uint8_t>(whole.begin(), whole.begin() + cut)), "") << "cut to " << cut;
}

// Names without the UTF-8 flag: the stub reads every name as UTF-8, so a name in the old DOS code page
// is stored as UTF-8, and one that already is UTF-8 (as Info-ZIP on Unix writes it) is kept. Both get
// the flag.
TEST(BuilderZipInput, NamesWithoutTheUtf8FlagBecomeUtf8)
{
    const struct {
        const char* stored;
        const char* expected;
    } cases[] = {
        {"caf\x82.txt", "caf\xC3\xA9.txt"},     // 0x82 is e-acute in code page 437
        {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"}, // valid UTF-8 stays as it is
    };
    for (const auto& c : cases) {
        std::vector<FixtureEntry> entries(1);
        entries[0].name = c.stored;
        entries[0].data = "x";
        ZipArchive a = readZipArchive(makeZip(entries, FixtureEnd()));
        ASSERT_EQ(a.entries.size(), 1u);
        EXPECT_EQ(a.entries[0].name, c.expected);
        EXPECT_EQ(a.entries[0].flags & 0x800, 0x800);
    }
}

// A prefix whose length the offsets do not include, a comment, and an entry with an unsigned
// descriptor: the rebuilt archive starts with its first local header, carries the CRC and sizes in the
// local header (the stub reads them there) and a signed 16-byte descriptor (the stub steps over 16).
TEST(BuilderZipInput, RebuildsPrefixedAndStreamedArchivesForTheStub)
{
    std::vector<FixtureEntry> entries(2);
    entries[0].name = "first.txt";
    entries[0].streamed = true;
    entries[1].name = "second.txt";
    entries[1].data = "second entry";
    FixtureEnd end;
    end.prefix = std::string(100, 'J');
    end.comment = "archive comment";
    ZipArchive a = readZipArchive(makeZip(entries, end));
    ASSERT_EQ(a.entries.size(), 2u);
    EXPECT_EQ(a.comment, "archive comment");

    uint32_t endRecord = 0;
    std::vector<uint8_t> z = writeZip(a, 0, &endRecord);
    ASSERT_EQ(readLe32(&z[0]), 0x04034B50u);
    EXPECT_EQ(readLe16(&z[6]) & 0x8, 0x8);
    EXPECT_EQ(readLe32(&z[14]), a.entries[0].crc);
    EXPECT_EQ(readLe32(&z[18]), 5u) << "compressed size in the local header";
    size_t afterData = 30 + 9 + 5;
    EXPECT_EQ(readLe32(&z[afterData]), 0x08074B50u) << "descriptor signature";
    EXPECT_EQ(readLe32(&z[afterData + 16]), 0x04034B50u) << "next local header after 16 descriptor bytes";

    TempDir dir;
    writeFile(dir / "out.exe", buildSelfExtractor(makeFakeStub(), a, SfxSettings()));
    fs::path log = dir / "log";
    EXPECT_EQ(run("unzip -tq '" + (dir / "out.exe").string() + "'", log), 0) << logText(log);
}

TEST(BuilderZipInput, ArchivesFromOtherProducers)
{
    if (!haveTool("zip") || !haveTool("7z") || !haveTool("unzip"))
        GTEST_SKIP() << "zip, 7z or unzip missing";
    TempDir dir;
    fs::create_directories(dir / "tree" / "sub");
    writeFile(dir / "tree" / "a.txt", std::string(3000, 'a'));
    writeFile(dir / "tree" / "sub" / "b.txt", "bee");
    const std::string tree = (dir / "tree").string();
    const struct {
        const char* label;
        std::string command; // makes in.zip in the test folder, run inside tree/
        bool encrypted;
    } cases[] = {
        {"Info-ZIP zip", "zip -qr ../in.zip .", false},
        {"Info-ZIP zip -P", "zip -qr -P pw ../in.zip .", true},
        {"Info-ZIP zip from a pipe (descriptor)", "cat a.txt | zip -q -fz- -P pw ../in.zip -", true},
        {"7z with ZipCrypto", "7z a -tzip -ppw -mem=ZipCrypto ../in.zip . >/dev/null", true},
        {"python zipfile", "python3 -c \"import zipfile; z = zipfile.ZipFile('../in.zip', 'w', zipfile.ZIP_DEFLATED); "
                           "z.write('a.txt'); z.write('sub/b.txt'); z.close()\"",
         false},
    };
    for (const auto& c : cases) {
        fs::path log = dir / "log";
        fs::remove(dir / "in.zip");
        ASSERT_EQ(run("cd '" + tree + "' && " + c.command, log), 0) << c.label << logText(log);
        ZipArchive a = readZipArchive(readFile(dir / "in.zip"));
        std::vector<uint8_t> f = buildSelfExtractor(makeFakeStub(), a, SfxSettings());
        StubParameterBlock block;
        memcpy(&block, &f[0x400], sizeof block);
        uint32_t flags = block.flags;
        EXPECT_EQ((flags & SFXF_ASK_PASSWORD) != 0, c.encrypted) << c.label;
        writeFile(dir / "out.exe", f);
        EXPECT_EQ(run("unzip -tq -P pw '" + (dir / "out.exe").string() + "'", log), 0) << c.label << logText(log);
    }
}
