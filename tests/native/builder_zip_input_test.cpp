// ZIP input from any producer: what the tool refuses (one hand-made archive per refusal, built field by
// field: what the stub cannot extract, and headers that lie about an entry's place, size, CRC or data),
// what it repairs on the way (a prefix with unadjusted offsets, unsigned data descriptors, folder entries
// with an empty deflate stream), and real archives from Info-ZIP zip, 7z and python's zipfile, checked
// after building with Info-ZIP unzip.
#include <gtest/gtest.h>

#include <functional>

#include "builder/build_error.h"
#include "builder/sfx_writer.h"
#include "builder/unicode_text.h"
#include "builder/zip_data_check.h"
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

// Raw deflate (no zlib wrapper) of text, as producers write it for method 8.
std::string deflated(const std::string& text)
{
    z_stream z = {};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, (uLong)text.size()), '\0');
    z.next_in = (Bytef*)text.data();
    z.avail_in = (uInt)text.size();
    z.next_out = (Bytef*)&out[0];
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint32_t crcOf(const std::string& text)
{
    return (uint32_t)crc32(0, (const Bytef*)text.data(), (uInt)text.size());
}

// Makes entry e a deflated one whose data is deflated(contents) and whose headers tell the truth.
void makeDeflated(FixtureEntry& e, const std::string& contents)
{
    e.method = 8;
    e.data = deflated(contents);
    e.crc = crcOf(contents);
    e.uncompressedSize = (uint32_t)contents.size();
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
        {"ZIP64 locator after a prefix", [](auto&, auto& end) { end.zip64Locator = true; end.prefix = "MZ"; }, "ZIP64"},
        {"last central comment ending like a ZIP64 locator (found by fuzzing; not taken for ZIP64)",
         [](auto& e, auto&) { e[0].centralComment = "PK\x06\x07" + std::string(16, 'c'); }, "(PK 06 07)"},
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
        {"line break in a name (the message stays one line)", [](auto& e, auto&) { e[0].name = "a\nb.txt"; }, "\"a\\x0Ab.txt\""},
        {"encrypted entry under 12 bytes", [](auto& e, auto&) { e[0].flags = 1; }, "encryption header"},
        {"broken local header signature", [](auto& e, auto&) { e[0].localSignature = 0x04034B51; }, "no local header"},
        {"data runs into the central directory", [](auto& e, auto&) { e[0].compressedSize = 60; }, "central directory"},
        {"end record points into nowhere", [](auto&, auto& end) { end.centralOffset = 3; }, "malformed"},
        {"a central header the end record does not count",
         [](auto&, auto& end) { end.centralTail = "PK\x01\x02" + std::string(60, '\0'); }, "more than the 1 entries"},
        {"more entries counted than the directory can hold", [](auto&, auto& end) { end.entries = end.entriesHere = 900; },
         "too small for the 900 entries"},

        // Bytes the tool copies without decoding must not read as records to tools that look for them.
        {"archive comment holding a central header signature",
         [](auto&, auto& end) { end.comment = "see PK\x01\x02 here"; }, "the archive comment holds a ZIP record signature (PK 01 02)"},
        {"archive comment holding a spanning marker", [](auto&, auto& end) { end.comment = "PK00"; }, "(PK 30 30)"},
        {"archive comment without a signature", [](auto&, auto& end) { end.comment = "PK\x01 PK\x09\x09 PKZIP"; }, ""},
        {"entry comment holding a local header signature",
         [](auto& e, auto&) { e[0].centralComment = "PK\x03\x04"; }, "the comment of entry \"a.txt\" holds"},
        {"local extra field holding a descriptor signature",
         [](auto& e, auto&) { e[0].localExtra = std::string("\x55\x54\x04\x00PK\x07\x08", 8); },
         "the local extra field of entry \"a.txt\" holds a ZIP record signature (PK 07 08)"},
        {"central extra field holding a ZIP64 end record signature",
         [](auto& e, auto&) { e[0].centralExtra = std::string("\x55\x54\x04\x00PK\x06\x06", 8); },
         "the central extra field of entry \"a.txt\" holds"},
        {"a signature only inside a Unicode Path block (which is dropped)",
         [](auto& e, auto&) { e[0].centralExtra = std::string("\x75\x70\x04\x00PK\x05\x05", 8); }, ""},

        // Names that are one file or folder on Windows.
        {"two names in other letter case",
         [](auto& e, auto&) { e.push_back(e[0]); e[0].name = "bin/run.exe"; e[1].name = "BIN\\RUN.EXE"; },
         "entries \"bin/run.exe\" and \"BIN\\RUN.EXE\" are one file on Windows"},
        {"one name twice", [](auto& e, auto&) { e.push_back(e[0]); }, "are one file on Windows"},
        {"Latin-1 names in other letter case (code page 437 and UTF-8)",
         [](auto& e, auto&) { e.push_back(e[0]); e[0].name = "caf\x82.txt"; e[1].name = "CAF\xC3\x89.TXT"; e[1].flags = 0x800; },
         "are one file on Windows"},
        {"a file and a folder of one name",
         [](auto& e, auto&) { e.push_back(e[0]); e[0].name = "a"; e[1].name = "A/b.txt"; },
         "entries \"a\" and \"A/b.txt\" need a file and a folder of one name"},
        {"a long name and an entry named like its short name",
         [](auto& e, auto&) { e.push_back(e[0]); e[0].name = "Setup-Program.exe"; e[1].name = "SETUP-~1.EXE"; },
         "entries \"Setup-Program.exe\" and \"SETUP-~1.EXE\" can be one file or folder on Windows"},
        {"two folder entries in other letter case (one folder)",
         [](auto& e, auto&) {
             e.push_back(e[0]);
             for (auto& f : e) { f.data = ""; f.uncompressedSize = 0; f.crc = 0; }
             e[0].name = "docs/"; e[1].name = "DOCS/";
         },
         ""},

        // Entries sharing bytes: found from the headers alone, before any data is decoded (the shared
        // entry's CRC is a lie that decoding would report instead).
        {"a second central header on the same local header",
         [](auto& e, auto&) {
             e[0].crc = 0x12345678;
             e.push_back(e[0]);
             e[1].localOffsetDelta = (uint32_t)-40; // back onto the first entry's 40-byte record
         },
         "overlap"},
        {"data that holds the next entry's local header",
         [](auto& e, auto&) {
             e.push_back(e[0]);
             e[1].name = "b.txt";
             e[0].compressedSize = 5 + 30 + 5 + 5; // its own data, then b.txt's header, name and data
         },
         "overlap"},

        // What tools that walk local headers see must be what the central directory says.
        {"local header with another name", [](auto& e, auto&) { e[0].localName = "b.txt"; }, "disagrees with the central directory on the name"},
        {"local header with another CRC", [](auto& e, auto&) { e[0].localCrc = 0; }, "on the CRC or the sizes"},
        {"streamed entry (zeros in its local header)", [](auto& e, auto&) { e[0].streamed = true; }, ""},
        {"streamed entry whose descriptor disagrees",
         [](auto& e, auto&) { e[0].streamed = true; e[0].descriptorCrc = 1; }, "data descriptor"},

        // Folder entries: the stub would read a folder's data as the next record.
        {"folder entry with stored data", [](auto& e, auto&) { e[0].name = "d/"; }, "folder entry \"d/\" declares 5 bytes"},
        {"folder entry with data but a size of 0",
         [](auto& e, auto&) { e[0].name = "d/"; e[0].uncompressedSize = 0; e[0].crc = 0; }, "folder entry \"d/\" holds data"},
        {"folder entry with a backslash, data and a size of 0",
         [](auto& e, auto&) { e[0].name = "d\\"; e[0].uncompressedSize = 0; e[0].crc = 0; }, "holds data"},
        {"folder entry whose deflate data is not empty",
         [](auto& e, auto&) { e[0].name = "d/"; makeDeflated(e[0], "x"); e[0].uncompressedSize = 0; e[0].crc = 0; },
         "holds data"},

        // Sizes and CRC are checked by decoding.
        {"stored entry declaring more than it holds", [](auto& e, auto&) { e[0].uncompressedSize = 10; }, "decodes to 5 bytes but declares 10"},
        {"stored entry declaring less than it holds", [](auto& e, auto&) { e[0].uncompressedSize = 3; }, "more than its declared 3 bytes"},
        {"wrong CRC", [](auto& e, auto&) { e[0].crc = 0x12345678; }, "CRC-32 3610A686 but declares 12345678"},
        {"deflated entry", [](auto& e, auto&) { makeDeflated(e[0], "hello hello hello"); }, ""},
        {"1 MiB of zeros declaring 10 bytes",
         [](auto& e, auto&) { makeDeflated(e[0], std::string(1 << 20, '\0')); e[0].uncompressedSize = 10; },
         "more than its declared 10 bytes"},
        {"deflate data with an invalid block type", [](auto& e, auto&) { e[0].method = 8; e[0].data = "\x07"; }, "is damaged"},
        {"deflate data cut short",
         [](auto& e, auto&) { makeDeflated(e[0], "hello hello hello"); e[0].data.pop_back(); }, "ends before its last block"},
        {"bytes after the end of the deflate data",
         [](auto& e, auto&) { makeDeflated(e[0], "hello hello hello"); e[0].data += "XY"; }, "2 bytes after the end"},
        {"deflated entry of no bytes at all", [](auto& e, auto&) { e[0].method = 8; e[0].data = ""; }, ""},

        // Encrypted entries: without the password only the sizes can be checked.
        {"stored encrypted entry", [](auto& e, auto&) { e[0].flags = 1; e[0].data = std::string(17, 'e'); e[0].uncompressedSize = 5; }, ""},
        {"stored encrypted entry whose size leaves out the header",
         [](auto& e, auto&) { e[0].flags = 1; e[0].data = std::string(17, 'e'); e[0].uncompressedSize = 17; },
         "stored encrypted entry"},
    };
    for (const auto& c : cases) {
        std::vector<FixtureEntry> entries(1);
        FixtureEnd end;
        c.change(entries, end);
        std::string refusal = refusalOf(makeZip(entries, end));
        EXPECT_EQ(refusal.find('\n'), std::string::npos) << c.label << ": got \"" << refusal << "\"";
        if (*c.refusal == 0)
            EXPECT_EQ(refusal, "") << c.label;
        else
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.label << ": got \"" << refusal << "\"";
    }
    std::vector<uint8_t> whole = makeZip(std::vector<FixtureEntry>(1));
    for (size_t cut : {0, 21, 30, 60})
        EXPECT_NE(refusalOf(std::vector<uint8_t>(whole.begin(), whole.begin() + cut)), "") << "cut to " << cut;
}

// A folder entry is written with no data whatever its data was: an empty deflate stream (as python's
// zipfile writes folders), nothing, or (encrypted) only an encryption header, which says nothing.
TEST(BuilderZipInput, FolderEntriesAreWrittenWithoutData)
{
    const struct {
        const char* label;
        std::function<void(FixtureEntry&)> change;
    } cases[] = {
        {"stored, no data", [](FixtureEntry&) {}},
        {"empty deflate stream", [](FixtureEntry& e) { e.method = 8; e.data = std::string("\x03\x00", 2); }},
        {"streamed empty deflate stream",
         [](FixtureEntry& e) { e.method = 8; e.data = std::string("\x03\x00", 2); e.streamed = true; }},
        {"name ending in a backslash", [](FixtureEntry& e) { e.name = "d\\"; }},
        {"encrypted, an encryption header only", [](FixtureEntry& e) { e.flags = 1; e.data = std::string(12, 'e'); }},
    };
    for (const auto& c : cases) {
        std::vector<FixtureEntry> entries(2);
        entries[0].name = "d/";
        entries[0].data = "";
        entries[0].crc = 0;
        entries[0].uncompressedSize = 0;
        c.change(entries[0]);
        entries[1].name = "d/f.txt";
        ZipArchive a;
        try {
            a = readZipArchive(makeZip(entries));
        } catch (const BuildError& e) {
            ADD_FAILURE() << c.label << ": " << e.what();
            continue;
        }
        const ZipEntry& folder = a.entries[0];
        EXPECT_EQ(folder.data.size(), 0u) << c.label;
        EXPECT_EQ(folder.method, 0) << c.label;
        EXPECT_EQ(folder.crc, 0u) << c.label;
        EXPECT_EQ(folder.uncompressedSize, 0u) << c.label;
        EXPECT_EQ(folder.flags & (ZIP_FLAG_ENCRYPTED | ZIP_FLAG_DESCRIPTOR), 0) << c.label;
        uint32_t endRecord = 0;
        std::vector<uint8_t> z = writeZip(a, 0, &endRecord);
        EXPECT_EQ(readLe32(&z[30 + 2]), 0x04034B50u) << c.label << ": the file's local header right after the folder's";
    }
}

// The decoder never produces more than one byte past the declared size, however much the data holds,
// and reads every byte of the compressed data.
TEST(BuilderZipInput, DecodingStopsOneBytePastTheDeclaredSize)
{
    const std::string zeros(1 << 20, '\0');
    const std::string packedZeros = deflated(zeros);
    const struct {
        const char* label;
        uint16_t method;
        std::string data;
        uint32_t declared;
        DecodeOutcome outcome;
        uint64_t size;
        size_t trailing;
    } cases[] = {
        {"stored, exact", 0, "hello", 5, DecodeOutcome::Complete, 5, 0},
        {"stored, more than declared", 0, "hello", 2, DecodeOutcome::PastDeclaredSize, 3, 0},
        {"1 MiB of zeros declared as such (many output rounds)", 8, packedZeros, 1 << 20, DecodeOutcome::Complete, 1 << 20, 0},
        {"1 MiB of zeros declared as 10 bytes", 8, packedZeros, 10, DecodeOutcome::PastDeclaredSize, 11, 0},
        {"1 MiB of zeros declared as 64 KiB (a round's size)", 8, packedZeros, 65536, DecodeOutcome::PastDeclaredSize, 65537, 0},
        {"empty fixed block", 8, std::string("\x03\x00", 2), 0, DecodeOutcome::Complete, 0, 0},
        {"empty stored block", 8, std::string("\x01\x00\x00\xFF\xFF", 5), 0, DecodeOutcome::Complete, 0, 0},
        {"three bytes after the final block", 8, std::string("\x03\x00xyz", 5), 0, DecodeOutcome::TrailingBytes, 0, 3},
        {"a stored block's length cut off", 8, "\x01\x05", 0, DecodeOutcome::CutShort, 0, 0},
        {"stored length and its complement disagree", 8, std::string("\x01\x05\x00\x00\x00", 5), 5, DecodeOutcome::Damaged, 0, 0},
    };
    for (const auto& c : cases) {
        DecodedData d = decodeEntryData(c.method, (const uint8_t*)c.data.data(), c.data.size(), c.declared);
        EXPECT_EQ((int)d.outcome, (int)c.outcome) << c.label;
        EXPECT_EQ(d.size, c.size) << c.label;
        EXPECT_EQ(d.trailingBytes, c.trailing) << c.label;
        if (c.outcome == DecodeOutcome::Complete) {
            uint32_t expected = c.method == 0 ? crcOf(c.data) : crcOf(std::string((size_t)c.size, '\0'));
            EXPECT_EQ(d.crc, expected) << c.label;
        }
    }
}

// 2,000 central headers naming one 4 MiB entry: refused for the overlap, which shows that no data was
// copied or decoded first (the entry's CRC is a lie that decoding would have found; copying the entry
// for each header would have taken 8 GB).
TEST(BuilderZipInput, HeadersSharingOneEntryAreRefusedBeforeItsDataIsRead)
{
    const uint32_t dataSize = 4u << 20;
    const int headers = 2000;
    std::vector<uint8_t> z;
    add32(z, 0x04034B50); // local header
    add16(z, 20);         // version needed
    add16(z, 0);          // flags
    add16(z, 0);          // stored
    add32(z, 0);          // time and date
    add32(z, 0xBAD0C0DE); // CRC-32 (wrong)
    add32(z, dataSize);   // compressed size
    add32(z, dataSize);   // uncompressed size
    add16(z, 5);          // name length
    add16(z, 0);          // extra length
    addText(z, "a.bin");
    z.resize(z.size() + dataSize, 'x');
    const uint32_t centralStart = (uint32_t)z.size();
    for (int i = 0; i < headers; i++) {
        add32(z, 0x02014B50);
        add16(z, 20);         // made by
        add16(z, 20);         // version needed
        add16(z, 0);          // flags
        add16(z, 0);          // stored
        add32(z, 0);          // time and date
        add32(z, 0xBAD0C0DE); // CRC-32
        add32(z, dataSize);
        add32(z, dataSize);
        add16(z, 5);          // name length
        add32(z, 0);          // extra and comment lengths
        add32(z, 0);          // disk start, internal attributes
        add32(z, 0);          // external attributes
        add32(z, 0);          // local header offset: all the same
        addText(z, "a.bin");
    }
    const uint32_t centralSize = (uint32_t)z.size() - centralStart;
    add32(z, 0x06054B50);
    add32(z, 0);          // disk numbers
    add16(z, headers);    // entries on this disk
    add16(z, headers);    // entries
    add32(z, centralSize);
    add32(z, centralStart);
    add16(z, 0);          // comment length
    std::string refusal = refusalOf(z);
    EXPECT_NE(refusal.find("entries \"a.bin\" and \"a.bin\" overlap"), std::string::npos) << refusal;
}

// An archive that tells other tools another story: its comment holds a second central directory, which
// lists only readme.txt, and an end record whose comment length (0xFFFF) runs past the end of the file.
// unzip, 7z and Python's zipfile take that last end record and list readme.txt; the stub, walking local
// headers, would write evil.exe too. The same second directory after the archive, outside its comment,
// tells the same two stories. Both are refused; the archive without the second directory is taken.
TEST(BuilderZipInput, ArchiveThatListsOtherEntriesInOtherToolsIsRefused)
{
    std::vector<FixtureEntry> entries(2);
    entries[0].name = "readme.txt";
    entries[0].data = "lees mij";
    entries[1].name = "evil.exe";
    entries[1].data = "MZ evil";
    const std::vector<uint8_t> plain = makeZip(entries);
    const uint32_t centralStart = readLe32(&plain[plain.size() - 22 + 16]);
    const size_t commentStart = plain.size();
    // The second directory: readme.txt's own central header, then an end record that counts only it.
    auto secondDirectory = [&](size_t at, uint16_t commentLength) {
        std::vector<uint8_t> d(plain.begin() + centralStart, plain.begin() + centralStart + 46 + 10);
        add32(d, 0x06054B50);
        add32(d, 0);                 // disk numbers
        add16(d, 1);                 // entries on this disk
        add16(d, 1);                 // entries
        add32(d, 46 + 10);           // size of the directory
        add32(d, (uint32_t)at);      // its offset
        add16(d, commentLength);     // comment length: past the end of the file
        return std::string(d.begin(), d.end());
    };
    FixtureEnd inComment;
    inComment.comment = secondDirectory(commentStart, 0xFFFF);
    const std::vector<uint8_t> told = makeZip(entries, inComment);
    std::vector<uint8_t> after = plain;
    addText(after, secondDirectory(plain.size(), 0xFFFF));

    TempDir dir;
    const fs::path log = dir / "log";
    if (haveTool("python3")) {
        writeFile(dir / "told.zip", told);
        writeFile(dir / "after.zip", after);
        for (const char* name : {"told.zip", "after.zip"}) {
            fs::remove(log);
            ASSERT_EQ(run("python3 -c \"import zipfile, sys; print(zipfile.ZipFile(sys.argv[1]).namelist())\" '"
                              + (dir / name).string() + "'",
                          log),
                      0)
                << logText(log);
            EXPECT_EQ(logText(log), "['readme.txt']\n") << name << ": the fixture is not what other tools list";
        }
    }
    EXPECT_NE(refusalOf(told).find("the comment of the last end of central directory record runs past the end of the file"),
              std::string::npos)
        << refusalOf(told);
    EXPECT_NE(refusalOf(after).find("runs past the end of the file"), std::string::npos) << refusalOf(after);
    EXPECT_EQ(refusalOf(plain), "");
}

// Names in messages: one line whatever the name holds, and what can be shown is shown as it is.
TEST(BuilderZipInput, AlternateNamesInExtraFieldsAreDropped)
{
    // Extra blocks: id (u16), size (u16), data. 0x7075 carries a second name that other tools would use.
    const std::string unicodePath("\x75\x70\x06\x00\x01\xAA\xBB\xCC\xDD" "x", 10);
    const std::string timestamp("\x55\x54\x05\x00\x03\x01\x02\x03\x04", 9);
    struct Case {
        const char* what;
        std::string extra;
        std::string kept;
    } cases[] = {
        {"empty", "", ""},
        {"only a name", unicodePath, ""},
        {"a name between two others", timestamp + unicodePath + timestamp, timestamp + timestamp},
        {"no name", timestamp, timestamp},
        {"a block running past the end", timestamp + std::string("\x75\x70\x40\x00" "ab", 6), timestamp},
        {"a stray byte at the end", timestamp + "z", timestamp},
    };
    for (const Case& c : cases)
        EXPECT_EQ(withoutAlternateNames(c.extra), c.kept) << c.what;
}

TEST(BuilderZipInput, NamesInMessagesStayOnOneLine)
{
    const struct {
        std::string name;
        std::string shown;
    } cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC.txt", "\"caf\xC3\xA9 \xE2\x82\xAC.txt\""},
        {"\xF0\x9F\x98\x80.txt", "\"\xF0\x9F\x98\x80.txt\""}, // beyond U+FFFF
        {"a\r\nb\tc\x7F", "\"a\\x0D\\x0Ab\\x09c\\x7F\""},
        {"csi\xC2\x9B", "\"csi\\x9B\""},                   // a C1 control in UTF-8
        {"line\xE2\x80\xA8sep", "\"line\\u2028sep\""},
        {"not utf-8 \xFF\xC3", "\"not utf-8 \\xFF\\xC3\""},
        {std::string(301, 'n'), "\"" + std::string(300, 'n') + "...\""},
        {std::string(300, 'n'), "\"" + std::string(300, 'n') + "\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(quotedForMessage(c.name), c.shown);
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

// A prefix whose length the offsets do not include, a comment, and entries with an unsigned descriptor
// (plain, and encrypted as Info-ZIP writes from a pipe; the tool cannot decode those): the rebuilt archive
// starts with its first local header, carries the CRC and sizes in every local header (the stub reads them
// there and reads the entry's data up to that size exactly) and a signed 16-byte descriptor right after the
// data (the stub steps over 16), so that each next record starts where the central directory says.
TEST(BuilderZipInput, RebuildsPrefixedAndStreamedArchivesForTheStub)
{
    std::vector<FixtureEntry> entries(4);
    entries[0].name = "first.txt";
    entries[0].streamed = true;
    entries[1].name = "second.txt";
    entries[1].data = "second entry";
    entries[2].name = "encrypted.txt";
    entries[2].streamed = true;
    entries[2].flags = 1;
    entries[2].method = 8;
    entries[2].data = std::string(12 + 9, 'e'); // encryption header and data: not decoded
    entries[2].crc = 0x1234ABCD;
    entries[2].uncompressedSize = 30;
    entries[3].name = "encrypted-stored.txt";
    entries[3].streamed = true;
    entries[3].flags = 1;
    entries[3].data = std::string(12 + 4, 's');
    entries[3].crc = 0x5678ABCD;
    entries[3].uncompressedSize = 4;
    FixtureEnd end;
    end.prefix = std::string(100, 'J');
    end.comment = "archive comment";
    ZipArchive a = readZipArchive(makeZip(entries, end));
    ASSERT_EQ(a.entries.size(), entries.size());
    EXPECT_EQ(a.comment, "archive comment");

    uint32_t endRecord = 0;
    std::vector<uint8_t> z = writeZip(a, 0, &endRecord);
    const uint32_t centralOffset = readLe32(&z[endRecord + 16]);
    std::vector<uint32_t> listedOffsets; // local header offsets, in central directory order (the input's)
    for (size_t c = centralOffset; c + 46 <= endRecord; c += 46 + readLe16(&z[c + 28]) + readLe16(&z[c + 30]) + readLe16(&z[c + 32]))
        listedOffsets.push_back(readLe32(&z[c + 42]));
    ASSERT_EQ(listedOffsets.size(), entries.size());
    size_t at = 0;
    for (size_t i = 0; i < entries.size(); i++) {
        const FixtureEntry& e = entries[i];
        EXPECT_EQ(at, listedOffsets[i]) << e.name << ": the record starts where the one before it ends";
        const uint32_t crc = e.crc == AUTO ? crcOf(e.data) : e.crc;
        const uint32_t size = e.uncompressedSize == AUTO ? (uint32_t)e.data.size() : e.uncompressedSize;
        ASSERT_LE(at + 30, z.size()) << e.name;
        ASSERT_EQ(readLe32(&z[at]), 0x04034B50u) << e.name << ": local header at " << at;
        EXPECT_EQ(readLe16(&z[at + 6]) & 0x9, e.flags | (e.streamed ? 0x8 : 0)) << e.name;
        EXPECT_EQ(readLe32(&z[at + 14]), crc) << e.name << ": CRC in the local header";
        EXPECT_EQ(readLe32(&z[at + 18]), e.data.size()) << e.name << ": compressed size in the local header";
        EXPECT_EQ(readLe32(&z[at + 22]), size) << e.name << ": uncompressed size in the local header";
        at += 30 + readLe16(&z[at + 26]) + readLe16(&z[at + 28]) + e.data.size();
        if (e.streamed) {
            ASSERT_LE(at + 16, z.size()) << e.name;
            EXPECT_EQ(readLe32(&z[at]), 0x08074B50u) << e.name << ": descriptor signature at the declared end";
            EXPECT_EQ(readLe32(&z[at + 4]), crc) << e.name;
            EXPECT_EQ(readLe32(&z[at + 8]), e.data.size()) << e.name;
            EXPECT_EQ(readLe32(&z[at + 12]), size) << e.name;
            at += 16;
        }
    }
    EXPECT_EQ(at, centralOffset) << "the records end where the central directory begins";

    TempDir dir;
    writeFile(dir / "out.exe", buildSelfExtractor(makeFakeStub(), a, SfxSettings()));
    fs::path log = dir / "log";
    // The encrypted entries hold no real encryption: unzip tests the others.
    EXPECT_EQ(run("unzip -tq '" + (dir / "out.exe").string() + "' first.txt second.txt", log), 0) << logText(log);
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
        // A folder as an empty deflate stream (2 compressed bytes), and signed descriptors from a pipe.
        {"python zipfile to a pipe", "{ python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.stdout.buffer, 'w', "
                                     "zipfile.ZIP_DEFLATED); z.writestr('sub/', ''); z.write('sub/b.txt'); "
                                     "z.write('a.txt'); z.close()\" | cat >../in.zip; }",
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
