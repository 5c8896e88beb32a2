// Folder input and the command line: a tree packed (deflated, stored, encrypted) and extracted again by
// Info-ZIP unzip, the DOS times in local time, and the exit statuses and one-line messages of the tool.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/time.h>
#include <time.h>

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
        {{"--inspect", stub, "--auto"}, 2, "only the file"},
        {{"-o", out, tree}, 1, "aksfx32.exe"},
        {{"--stub", stub, "-o", out, notZip}, 1, "not a ZIP archive"},
        {{"--stub", stub, "-o", out, lyingZip}, 1, "lying.zip: malformed ZIP archive: entry \"a.txt\" has CRC-32"},
        {{"--stub", stub, "-o", out, (dir / "missing").string()}, 1, "cannot read"},
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
