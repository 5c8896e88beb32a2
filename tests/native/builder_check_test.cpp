// --test and --inspect read a finished file back: every entry decoded and checked against its headers
// (Info-ZIP unzip -t as the independent judge of damage), encrypted entries with and without the
// password, archives of other producers, structural faults and spanned sets; and --inspect's entry list,
// icon, version resource, execution level and signature after the lines it always printed.
#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "builder/build_options.h"
#include "icon_fixture.h"
#include "installer_fixture.h"

using namespace installer_fixture;

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string error;
};

ToolRun tool(const std::vector<std::string>& args)
{
    std::ostringstream out;
    ToolRun r;
    r.status = runTool(args, "/nonexistent", out, &r.error);
    r.out = out.str();
    return r;
}

// File offset of the data of the entry named name, found by its local header (not by the tool's reader).
size_t dataOffset(const std::vector<uint8_t>& f, const std::string& name)
{
    for (size_t at = 0; at + 30 + name.size() <= f.size(); at++) {
        if (readLe32(&f[at]) != 0x04034B50 || readLe16(&f[at + 26]) != name.size()
            || std::string(f.begin() + at + 30, f.begin() + at + 30 + name.size()) != name)
            continue;
        return at + 30 + name.size() + readLe16(&f[at + 28]);
    }
    ADD_FAILURE() << "no local header for " << name;
    return 0;
}

// A folder whose files pack as one deflated entry, one stored entry and a folder entry.
struct Packed {
    TempDir dir;
    std::string stub = (dir / "stub.exe").string();
    std::string in = (dir / "in").string();

    Packed(const std::vector<uint8_t>& stubBytes = makeFakeStub())
    {
        fs::create_directories(dir / "in" / "docs");
        std::string notes;
        for (int i = 0; i < 400; i++)
            notes += "line " + std::to_string(i) + " of the notes\n";
        writeFile(dir / "in" / "docs" / "notes.txt", notes);
        writeFile(dir / "in" / "hello.txt", "hello world data");
        writeFile(dir / "stub.exe", stubBytes);
    }

    std::string build(const std::string& name, std::vector<std::string> options = {})
    {
        std::string out = (dir / name).string();
        std::vector<std::string> args = {"--stub", stub, "-o", out};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(in);
        ToolRun r = tool(args);
        EXPECT_EQ(r.status, 0) << r.error;
        return out;
    }
};

bool unzipAccepts(const std::string& file, const std::string& password, const fs::path& log)
{
    return run("unzip -tq " + (password.empty() ? "" : "-P '" + password + "' ") + "'" + file + "'", log) == 0;
}

} // namespace

// Damage that unzip -t finds, --test and --inspect find too and name the entry; an intact file is ok.
TEST(BuilderTestOption, ReportsEveryEntryAndFailsOnDamage)
{
    Packed p;
    const std::string good = p.build("good.exe");
    const std::vector<uint8_t> goodBytes = readFile(good);
    const struct {
        const char* label;
        const char* entry;   // the entry whose data gets a byte changed; null: none
        size_t offset;       // into its data
        const char* line;    // expected in the report
    } cases[] = {
        {"intact", nullptr, 0, "  \"hello.txt\"  16 bytes, 16 compressed, stored: ok\n"},
        {"a stored byte", "hello.txt", 3, "  \"hello.txt\"  16 bytes, 16 compressed, stored: DAMAGED: entry \"hello.txt\" has CRC-32 "},
        {"a deflated byte", "docs/notes.txt", 40, "  \"docs/notes.txt\"  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<uint8_t> f = goodBytes;
        if (c.entry)
            f[dataOffset(f, c.entry) + c.offset] ^= 0x55;
        const std::string file = (p.dir / "case.exe").string();
        writeFile(file, f);
        const bool damaged = c.entry != nullptr;
        EXPECT_EQ(unzipAccepts(file, "", p.dir / "unzip.log"), !damaged) << logText(p.dir / "unzip.log");

        ToolRun r = tool({"--test", file});
        EXPECT_EQ(r.status, damaged ? 1 : 0) << r.error << "\n" << r.out;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("  \"docs/\"  folder: ok\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(damaged ? "3 entries: 2 ok, 1 damaged, 0 not checked (encrypted)\n"
                                     : "3 entries: 3 ok, 0 damaged, 0 not checked (encrypted)\n"),
                  std::string::npos)
            << r.out;
        ToolRun inspect = tool({"--inspect", file});
        EXPECT_EQ(inspect.status, damaged ? 1 : 0) << inspect.error;
        EXPECT_NE(inspect.out.find("  end record:      ok\n"), std::string::npos) << inspect.out;
        EXPECT_NE(inspect.out.find("entries\n" + std::string(c.entry ? "" : "  \"docs/\"  folder: ok\n")),
                  std::string::npos)
            << inspect.out;
        if (damaged) {
            EXPECT_NE(r.out.find(std::string("\"") + c.entry + "\"  ") , std::string::npos);
            EXPECT_NE(r.out.find("DAMAGED"), std::string::npos) << r.out;
            for (const std::string& error : {r.error, inspect.error}) {
                EXPECT_NE(error.find(std::string("entry \"") + c.entry + "\""), std::string::npos) << error;
                EXPECT_EQ(error.find('\n'), std::string::npos) << error;
            }
        }
    }
}

// Encrypted entries: without a password their structure is checked and that is no damage; with the right
// one they are decoded; with a wrong one they fail. Info-ZIP's own encrypted archive (data descriptors:
// the check byte comes from the time) reads the same way.
TEST(BuilderTestOption, EncryptedEntriesWithAndWithoutThePassword)
{
    Packed p;
    const std::string built = p.build("enc.exe", {"--encrypt", "S3cret"});
    const std::string infozip = (p.dir / "infozip.zip").string();
    const bool haveZip = haveTool("zip");
    if (haveZip) {
        ASSERT_EQ(run("cd '" + p.in + "' && zip -qr -P S3cret '" + infozip + "' .", p.dir / "zip.log"), 0)
            << logText(p.dir / "zip.log");
    }
    const struct {
        std::vector<std::string> args;
        int status;
        const char* wanted;
    } cases[] = {
        {{"--test", built}, 0, "  \"hello.txt\"  16 bytes, 28 compressed, stored, encrypted, data not checked (no --password)\n"},
        {{"--test", built}, 0, "3 entries: 1 ok, 0 damaged, 2 not checked (encrypted)\n"},
        {{"--test", built, "--password", "S3cret"}, 0, "  \"hello.txt\"  16 bytes, 28 compressed, stored, encrypted: ok\n"},
        {{"--password", "S3cret", "--test", built}, 0, "3 entries: 3 ok, 0 damaged, 0 not checked (encrypted)\n"},
        {{"--test", built, "--password", "wrong"}, 1, "DAMAGED"},
        {{"--inspect", built, "--password", "S3cret"}, 0, "3 entries: 3 ok, 0 damaged, 0 not checked (encrypted)\n"},
        {{"--inspect", built, "--password", "wrong"}, 1, "DAMAGED"},
    };
    for (const auto& c : cases) {
        ToolRun r = tool(c.args);
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_EQ(r.status, c.status) << joined << r.error << "\n" << r.out;
        EXPECT_NE(r.out.find(c.wanted), std::string::npos) << joined << "\n" << r.out;
    }
    if (!haveZip)
        return;
    EXPECT_TRUE(unzipAccepts(infozip, "S3cret", p.dir / "unzip.log")) << logText(p.dir / "unzip.log");
    ToolRun right = tool({"--test", infozip, "--password", "S3cret"});
    EXPECT_EQ(right.status, 0) << right.error << "\n" << right.out;
    EXPECT_NE(right.out.find("0 damaged, 0 not checked"), std::string::npos) << right.out;
    ToolRun wrong = tool({"--test", infozip, "--password", "S3cret!"});
    EXPECT_EQ(wrong.status, 1) << wrong.out;
}

// Plain .zip files of other producers; a file that is no archive or a cut one; a spanned set, which
// --test does not read; and the options --test takes.
TEST(BuilderTestOption, OtherProducersStructuralFaultsAndUsage)
{
    Packed p;
    fs::path log = p.dir / "tools.log";
    std::vector<std::string> ok;
    if (haveTool("zip")) {
        ASSERT_EQ(run("cd '" + p.in + "' && zip -qr '" + (p.dir / "infozip.zip").string() + "' .", log), 0) << logText(log);
        ok.push_back((p.dir / "infozip.zip").string());
    }
    ASSERT_EQ(run("cd '" + p.in + "' && python3 -c \"import zipfile; z = zipfile.ZipFile('" + (p.dir / "py.zip").string()
                      + "', 'w', zipfile.ZIP_DEFLATED); z.write('docs'); z.write('docs/notes.txt'); z.write('hello.txt'); z.close()\"",
                  log),
              0)
        << logText(log);
    ok.push_back((p.dir / "py.zip").string());
    for (const std::string& file : ok) {
        ToolRun r = tool({"--test", file});
        EXPECT_EQ(r.status, 0) << file << ": " << r.error;
        EXPECT_NE(r.out.find("3 entries: 3 ok, 0 damaged"), std::string::npos) << file << "\n" << r.out;
    }

    const std::string good = p.build("good.exe");
    std::vector<uint8_t> cut = readFile(good);
    cut.resize(cut.size() - 10);
    writeFile(p.dir / "cut.exe", cut);
    p.build("SETUP.EXE", {"--span", "8000"});
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"--test", (p.dir / "cut.exe").string()}, 1, "cut.exe: not a ZIP archive"},
        {{"--test", (p.dir / "PKBACK# 001" / "SETUP.EXE").string()}, 2, "spanned"},
        {{"--test", (p.dir / "missing.zip").string()}, 1, "cannot read"},
        {{"--test", good, "--auto"}, 2, "--test takes only the file"},
        {{"--test"}, 2, "needs a value"},
        {{"--test", good, "--inspect", good}, 2, "one at a time"},
        {{"--password", "x", "-o", good, p.in}, 2, "--password goes with --test or --inspect"},
    };
    for (const auto& c : cases) {
        ToolRun r = tool(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << ": " << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
    }
}

// --inspect keeps its lines and adds the icon group, the version resource, the execution level and the
// signature: none in a fresh file, present once a certificate table is there (by hand, and by osslsigncode).
TEST(BuilderInspect, ShowsIconVersionLevelAndSignature)
{
    Packed p(stubWithResources());
    writeFile(p.dir / "a.ico", icon_fixture::makeIcon({{16, 0xFF0000FF}, {32, 0xFF00FF00}}));
    const std::string plain = p.build("plain.exe");
    const std::string custom = p.build("custom.exe", {"--icon", (p.dir / "a.ico").string(), "--admin", "--version-info",
                                                      "ProductName=Voorbeeld;FileVersion=1.2.3.4;ProductVersion=2.0;"
                                                      "CompanyName=Voorbeeld B.V."});
    ToolRun r = tool({"--inspect", plain});
    EXPECT_EQ(r.status, 0) << r.error;
    for (const char* line : {"parameter block at ", "  end record:      ok\n", "  last section:    _arklet_\n",
                             "  icon group 1: 2 images: 16x16 32-bit bitmap, 16x16 32-bit bitmap\n",
                             "  version: none\n", "  execution level: asInvoker\n", "  signature: none\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_LT(r.out.find("last section:"), r.out.find("entries\n")) << "the new lines come after the old ones";

    r = tool({"--inspect", custom});
    EXPECT_EQ(r.status, 0) << r.error;
    for (const char* line : {"  icon group 1: 2 images: 16x16 32-bit bitmap, 32x32 32-bit bitmap\n",
                             "  version: fixed FileVersion 1.2.3.4, ProductVersion 2.0.0.0\n",
                             "  version: ProductName=\"Voorbeeld\"\n", "  version: CompanyName=\"Voorbeeld B.V.\"\n",
                             "  execution level: requireAdministrator\n", "  signature: none\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;

    // A certificate table entry (data directory 4: file offset and size) over 8 bytes at the end.
    std::vector<uint8_t> f = readFile(custom);
    const uint32_t peOffset = readLe32(&f[0x3C]);
    const size_t certificateEntry = peOffset + 24 + 96 + 4 * 8;
    const uint32_t at = (uint32_t)f.size();
    f.resize(f.size() + 8, 0);
    put32(f, certificateEntry, at);
    put32(f, certificateEntry + 4, 8);
    writeFile(p.dir / "marked.exe", f);
    r = tool({"--inspect", (p.dir / "marked.exe").string()});
    std::ostringstream expected;
    expected << "  signature: present (a certificate table of 8 bytes at 0x" << std::hex << std::uppercase
             << std::setw(8) << std::setfill('0') << at << ")\n";
    EXPECT_NE(r.out.find(expected.str()), std::string::npos) << expected.str() << r.out;

    if (!haveTool("osslsigncode") || !haveTool("openssl"))
        GTEST_SKIP() << "osslsigncode or openssl missing";
    fs::path log = p.dir / "sign.log";
    ASSERT_EQ(run("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=test -days 2 -keyout '" + (p.dir / "k.pem").string()
                      + "' -out '" + (p.dir / "c.pem").string() + "'", log), 0)
        << logText(log);
    ASSERT_EQ(run("osslsigncode sign -certs '" + (p.dir / "c.pem").string() + "' -key '" + (p.dir / "k.pem").string()
                      + "' -n test -in '" + custom + "' -out '" + (p.dir / "signed.exe").string() + "'", log), 0)
        << logText(log);
    r = tool({"--inspect", (p.dir / "signed.exe").string()});
    EXPECT_EQ(r.status, 0) << r.error;
    EXPECT_NE(r.out.find("  signature: present (a certificate table of "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 entries: 3 ok, 0 damaged"), std::string::npos) << r.out;
}
