// Folder input and the command line: a tree packed (deflated, stored, encrypted) and extracted again by
// Info-ZIP unzip, the DOS times in local time, and the exit statuses and one-line messages of the tool.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

#include <zlib.h>

#include <sstream>

#include "builder/build_options.h"
#include "builder/folder_packer.h"
#include "builder/sfx_check.h"
#include "builder/zip_reader.h"
#include "builder_test_support.h"

using namespace builder_test;

namespace {

// A small tree: nested and empty folders, an empty file, a UTF-8 name, text that deflates and bytes
// that do not (a fixed-seed generator).
void makeTree(const fs::path& root)
{
    fs::create_directories(root / "sub" / "nested");
    fs::create_directories(root / "empty");
    writeFile(root / "zero", std::string());
    writeFile(root / "sub" / "nested" / "deep.txt", "deep");
    writeFile(root / "caf\xC3\xA9 \xE2\x82\xAC.txt", "euro");
    writeFile(root / "text.txt", std::string(10000, 'z'));
    std::vector<uint8_t> noise(4000);
    uint32_t seed = 12345;
    for (uint8_t& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = (uint8_t)(seed >> 16);
    }
    writeFile(root / "noise.bin", noise);
}

const std::vector<std::string> treeOrder = {
    "caf\xC3\xA9 \xE2\x82\xAC.txt", "empty/", "noise.bin", "sub/", "sub/nested/", "sub/nested/deep.txt", "text.txt", "zero",
};

// makeTree plus real text to compress: the license texts of the system (or, without them, this file).
void makeTextTree(const fs::path& root)
{
    makeTree(root);
    fs::create_directories(root / "texts");
    std::error_code error;
    const fs::path licenses = "/usr/share/common-licenses";
    for (fs::directory_iterator it(licenses, error), end; !error && it != end; it.increment(error))
        if (fs::is_regular_file(it->path()))
            fs::copy_file(it->path(), root / "texts" / it->path().filename());
    if (fs::is_empty(root / "texts"))
        fs::copy_file(fs::path(AKSFX_SOURCE_DIR) / "tests/native/builder_folder_test.cpp", root / "texts" / "test.cpp");
}

// The data of an entry as zlib inflates it (raw deflate); empty plus a failure when zlib refuses it.
std::vector<uint8_t> inflateWithZlib(const std::vector<uint8_t>& packed, size_t size)
{
    std::vector<uint8_t> out(size + 1); // one spare byte: a stream that yields too much shows up
    z_stream z = {};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = (uInt)packed.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int result = inflate(&z, Z_FINISH);
    EXPECT_EQ(result, Z_STREAM_END) << z.msg;
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Raw deflate with zlib at a level, as the archive would hold it (stored when not smaller).
size_t zlibPackedSize(const std::vector<uint8_t>& data, int level)
{
    if (data.empty())
        return 0;
    std::vector<uint8_t> out(compressBound((uLong)data.size()) + 64);
    z_stream z = {};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    size_t size = z.total_out;
    deflateEnd(&z);
    return std::min(size, data.size());
}

// Everything of an entry that ends up in the archive.
std::string entryBytes(const ZipEntry& e)
{
    std::ostringstream s;
    s << e.name << '|' << e.flags << '|' << e.method << '|' << e.time << '|' << e.date << '|' << e.crc << '|'
      << e.uncompressedSize << '|' << e.versionMadeBy << '|' << e.externalAttributes << '|'
      << std::string(e.data.begin(), e.data.end());
    return s.str();
}

std::vector<std::string> archiveBytes(const ZipArchive& a)
{
    std::vector<std::string> all;
    for (const ZipEntry& e : a.entries)
        all.push_back(entryBytes(e));
    for (size_t i : a.centralOrder)
        all.push_back(std::to_string(i));
    return all;
}

int tool(const std::vector<std::string>& args, std::string* error, const std::string& toolFolder = "/nonexistent")
{
    std::ostringstream out;
    return runTool(args, toolFolder, out, error);
}

} // namespace

TEST(BuilderFolder, PackedTreeExtractsWithUnzip)
{
    if (!haveTool("unzip"))
        GTEST_SKIP() << "unzip missing";
    TempDir dir;
    makeTree(dir / "tree");
    writeFile(dir / "stub.exe", makeFakeStub());
    const struct {
        const char* label;
        std::vector<std::string> options;
        uint16_t textMethod; // method of text.txt (noise.bin is always stored: deflate does not shrink it)
        bool encrypted;
    } cases[] = {
        {"deflate", {}, 8, false},
        {"--store", {"--store"}, 0, false},
        {"--encrypt", {"--encrypt", "S3cret pw"}, 8, true},
        {"--encrypt --store", {"--encrypt", "S3cret pw", "--store"}, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::string> args = c.options;
        for (const char* a : {"--stub", "", "-o", "", ""})
            args.push_back(a);
        args[args.size() - 4] = (dir / "stub.exe").string();
        args[args.size() - 2] = (dir / "out.exe").string();
        args[args.size() - 1] = (dir / "tree").string();
        std::string error;
        ASSERT_EQ(tool(args, &error), 0) << error;

        std::vector<uint8_t> exe = readFile(dir / "out.exe");
        ZipArchive back = readZipArchive(exe); // the stub in front is a prefix to a ZIP reader
        std::vector<std::string> names;
        for (const ZipEntry& e : back.entries) {
            names.push_back(e.name);
            bool isFolder = e.name.back() == '/';
            EXPECT_EQ((e.flags & ZIP_FLAG_ENCRYPTED) != 0, c.encrypted && !isFolder) << e.name;
            EXPECT_EQ((e.flags & ZIP_FLAG_UTF8) != 0, e.name[3] == '\xC3') << e.name;
            if (e.name == "text.txt") {
                EXPECT_EQ(e.method, c.textMethod);
            }
            if (e.name == "noise.bin") {
                EXPECT_EQ(e.method, 0);
            }
            if (c.encrypted && !isFolder && e.method == 0) {
                EXPECT_EQ(e.data.size(), e.uncompressedSize + 12u) << e.name;
            }
        }
        EXPECT_EQ(names, treeOrder);
        EXPECT_EQ(inspectSelfExtractor(exe).failures, "");
        EXPECT_EQ(inspectSelfExtractor(exe).report.find("SFXF_ASK_PASSWORD") != std::string::npos, c.encrypted);

        fs::path log = dir / "log";
        fs::remove_all(dir / "x");
        ASSERT_EQ(run("unzip -q -P 'S3cret pw' -d '" + (dir / "x").string() + "' '" + (dir / "out.exe").string() + "'", log), 0)
            << logText(log);
        for (const char* file : {"zero", "sub/nested/deep.txt", "caf\xC3\xA9 \xE2\x82\xAC.txt", "text.txt", "noise.bin"})
            EXPECT_EQ(readFile(dir / "x" / file), readFile(dir / "tree" / file)) << file;
        EXPECT_TRUE(fs::is_directory(dir / "x" / "empty"));
        if (c.encrypted) {
            EXPECT_NE(run("unzip -tq -P wrong '" + (dir / "out.exe").string() + "'", log), 0);
        }
    }
}

// Files are deflated on several threads; the archive must not depend on how many or on their timing.
TEST(BuilderFolder, SameArchiveForEveryThreadCountAndRun)
{
    TempDir dir;
    makeTextTree(dir / "tree");
    FolderPackOptions options;
    options.workers = 1;
    const std::vector<std::string> expected = archiveBytes(packFolder(dir / "tree", options));
    for (unsigned workers : {1u, 2u, 3u, 8u, 64u, 0u}) {
        options.workers = workers;
        for (int run = 0; run < 3; run++)
            EXPECT_TRUE(archiveBytes(packFolder(dir / "tree", options)) == expected)
                << "workers " << workers << ", run " << run;
    }
}

// Every level gives streams that zlib inflates to the file again, stores what does not shrink, and
// shrinks what does; a higher level never gives a larger archive than level 1 on text.
TEST(BuilderFolder, EveryLevelRoundTripsThroughZlib)
{
    TempDir dir;
    makeTextTree(dir / "tree");
    size_t level1Total = 0;
    for (int level = MIN_DEFLATE_LEVEL; level <= MAX_DEFLATE_LEVEL; level++) {
        SCOPED_TRACE("level " + std::to_string(level) + " with " + deflateLibrary());
        FolderPackOptions options;
        options.level = level;
        options.workers = 2;
        ZipArchive a = packFolder(dir / "tree", options);
        size_t total = 0;
        for (const ZipEntry& e : a.entries) {
            if (e.name.back() == '/')
                continue;
            std::vector<uint8_t> original = readFile(dir / "tree" / e.name);
            total += e.data.size();
            if (e.method == ZIP_METHOD_DEFLATED) {
                EXPECT_LT(e.data.size(), original.size()) << e.name;
                EXPECT_EQ(inflateWithZlib(e.data, original.size()), original) << e.name;
            } else {
                EXPECT_EQ(e.method, ZIP_METHOD_STORED) << e.name;
                EXPECT_EQ(e.data, original) << e.name;
            }
            if (e.name == "noise.bin" || e.name == "zero") {
                EXPECT_EQ(e.method, ZIP_METHOD_STORED) << e.name;
            }
            if (e.name == "text.txt" || e.name.compare(0, 6, "texts/") == 0) {
                EXPECT_EQ(e.method, ZIP_METHOD_DEFLATED) << e.name;
            }
        }
        if (level == MIN_DEFLATE_LEVEL)
            level1Total = total;
        EXPECT_LE(total, level1Total);
    }
}

// The point of the default level: text packs smaller than zlib's usual level 6 does.
TEST(BuilderFolder, DefaultLevelBeatsZlibLevel6)
{
    TempDir dir;
    makeTextTree(dir / "tree");
    ZipArchive a = packFolder(dir / "tree", FolderPackOptions());
    size_t ours = 0, zlib6 = 0;
    for (const ZipEntry& e : a.entries) {
        if (e.name.back() == '/')
            continue;
        ours += e.data.size();
        zlib6 += zlibPackedSize(readFile(dir / "tree" / e.name), 6);
    }
    EXPECT_LT(ours, zlib6) << "with " << deflateLibrary();

    // The tool passes --level on: the default packs smaller than --level 1.
    writeFile(dir / "stub.exe", makeFakeStub());
    std::string error;
    for (const char* level : {"1", ""}) {
        std::vector<std::string> args = {"--stub", (dir / "stub.exe").string(), "-o", (dir / (std::string("l") + level + ".exe")).string(),
                                         (dir / "tree").string()};
        if (*level)
            args.insert(args.begin(), {"--level", level});
        ASSERT_EQ(tool(args, &error), 0) << error;
    }
    EXPECT_LT(fs::file_size(dir / "l.exe"), fs::file_size(dir / "l1.exe"));
}

TEST(BuilderFolder, EntryTimesAreLocalDosTimes)
{
    TempDir dir;
    fs::create_directories(dir / "tree");
    writeFile(dir / "tree" / "f.txt", "x");
    struct timeval times[2] = {{1623751200, 0}, {1623751200, 0}}; // 2021-06-15 10:00:00 UTC
    ASSERT_EQ(utimes((dir / "tree" / "f.txt").c_str(), times), 0);
    const char* saved = getenv("TZ");
    std::string savedTz = saved ? saved : "";
    setenv("TZ", "XYZ-3", 1); // three hours east of UTC, no daylight saving
    tzset();
    ZipArchive a = packFolder(dir / "tree", FolderPackOptions());
    if (saved)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ASSERT_EQ(a.entries.size(), 1u);
    EXPECT_EQ(a.entries[0].time, 13 << 11) << "13:00:00";
    EXPECT_EQ(a.entries[0].date, (2021 - 1980) << 9 | 6 << 5 | 15) << "2021-06-15";
}

TEST(BuilderCommandLine, ExitStatusAndOneLineMessages)
{
    TempDir dir;
    makeTree(dir / "tree");
    writeFile(dir / "stub.exe", makeFakeStub());
    writeFile(dir / "not.zip", "this is not an archive");
    std::vector<FixtureEntry> lying(1);
    lying[0].crc = 0x12345678;
    writeFile(dir / "lying.zip", makeZip(lying));
    fs::create_directories(dir / "clash" / "sub");    // one file on Windows, two here
    writeFile(dir / "clash" / "sub" / "a.txt", "a");
    writeFile(dir / "clash" / "sub" / "A.TXT", "A");
    const std::string stub = (dir / "stub.exe").string(), out = (dir / "o.exe").string(),
                      tree = (dir / "tree").string(), notZip = (dir / "not.zip").string(),
                      lyingZip = (dir / "lying.zip").string();
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{}, 2, "no INPUT"},
        {{"--bogus", tree}, 2, "unknown option --bogus"},
        {{tree}, 2, "no output file"},
        {{"-o", out, tree, tree}, 2, "more than one INPUT"},
        {{"-o"}, 2, "needs a value"},
        {{"--ask", "maybe", "-o", out, tree}, 2, "--ask takes"},
        {{"--crc", "some", "-o", out, tree}, 2, "--crc takes"},
        {{"--caption", std::string(65, 'c'), "-o", out, tree}, 2, "at most 64"},
        {{"--encrypt", "p\xC3\xA4ss", "-o", out, tree}, 2, "ASCII"},
        {{"--stub", stub, "--store", "-o", out, notZip}, 2, "folder input only"},
        {{"--stub", stub, "--level", "9", "-o", out, notZip}, 2, "folder input only"},
        {{"--level", "0", "-o", out, tree}, 2, "--level takes a number from 1 to 12, not \"0\""},
        {{"--level", "13", "-o", out, tree}, 2, "not \"13\""},
        {{"--level", "-1", "-o", out, tree}, 2, "not \"-1\""},
        {{"--level", "9x", "-o", out, tree}, 2, "not \"9x\""},
        {{"--level", "", "-o", out, tree}, 2, "not \"\""},
        {{"--level"}, 2, "needs a value"},
        {{"--inspect", stub, "--auto"}, 2, "only the file"},
        {{"-o", out, tree}, 1, "aksfx32.exe"},
        {{"--stub", stub, "-o", out, notZip}, 1, "not a ZIP archive"},
        {{"--stub", stub, "-o", out, lyingZip}, 1, "lying.zip: malformed ZIP archive: entry \"a.txt\" has CRC-32"},
        {{"--stub", stub, "-o", out, (dir / "missing").string()}, 1, "cannot read"},
        {{"--stub", stub, "-o", out, (dir / "clash").string()}, 1,
         "clash: entries \"sub/A.TXT\" and \"sub/a.txt\" are one file on Windows"},
        {{"--stub", stub, "-o", (dir / "no" / "such" / "o.exe").string(), tree}, 1, "cannot write"},
        {{"--inspect", stub}, 1, "does not check out: complete marker"},
        {{"--help"}, 0, ""},
    };
    for (const auto& c : cases) {
        std::string error;
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_EQ(tool(c.args, &error), c.status) << joined << ": " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << joined << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }

    // Success, with the stub found beside the tool, the option flags, and the default info string,
    // which names the options but never the password.
    fs::copy_file(dir / "stub.exe", dir / "aksfx32.exe");
    std::string error;
    ASSERT_EQ(tool({"--auto", "--ask", "ok-cancel", "--caption", "Kop", "--encrypt", "pw", "-o", out, tree}, &error,
                   dir.path.string()),
              0)
        << error;
    std::ostringstream report;
    ASSERT_EQ(runTool({"--inspect", out}, "", report, &error), 0) << error;
    EXPECT_NE(report.str().find("SFXF_HAS_CAPTION SFXF_ASK_PASSWORD SFXF_AUTO SFXF_CRC_AFTER_HEADERS "
                                "SFXF_STARTUP_ASK SFXF_STARTUP_OKCANCEL"),
              std::string::npos)
        << report.str();
    EXPECT_NE(report.str().find("\"--auto --ask ok-cancel --caption --encrypt\""), std::string::npos) << report.str();
}
