// What the building tool does to protect the distributor's files, through its command line (runTool, the
// Linux tool's code): an output that would land in the folder being packed or replace the input archive,
// empty input, symbolic links in a folder, --exclude, a missing stub, and --silent.
#include <gtest/gtest.h>

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "builder/build_options.h"
#include "builder/zip_reader.h"
#include "builder_test_support.h"

using namespace builder_test;

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string error;
};

ToolRun tool(const std::vector<std::string>& args, const std::string& toolFolder = "/nonexistent")
{
    std::ostringstream out;
    ToolRun r;
    r.status = runTool(args, toolFolder, out, &r.error);
    r.out = out.str();
    return r;
}

std::string joined(const std::vector<std::string>& args)
{
    std::string s;
    for (const std::string& a : args)
        s += a + " ";
    return s;
}

// The entries of a built file as "name" or "name=contents" (built with --store, so data is contents).
std::vector<std::string> entriesOf(const fs::path& exe)
{
    std::vector<std::string> list;
    for (const ZipEntry& e : readZipArchive(readFile(exe)).entries)
        list.push_back(e.name.back() == '/' ? e.name : e.name + "=" + std::string(e.data.begin(), e.data.end()));
    return list;
}

void makeLink(const fs::path& target, const fs::path& link)
{
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;
}

} // namespace

// The output may not go into the folder being packed, however the paths reach it (a link on either
// side, "..", a folder that does not exist yet, a spanned set's disk folders), nor replace the input
// archive. Nothing is written then, and the one line names both.
TEST(BuilderGuard, OutputInsideTheInputIsRefused)
{
    TempDir dir;
    fs::create_directories(dir / "app" / "sub");
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "app-setup");
    writeFile(dir / "app" / "setup.exe", std::string("the application's own setup"));
    writeFile(dir / "stub.exe", makeFakeStub());
    makeLink(dir / "app", dir / "link-to-app");
    makeLink(dir / "app" / "setup.exe", dir / "out" / "link-to-setup.exe");
    fs::create_directories(dir / "PKBACK# 001");
    writeFile(dir / "PKBACK# 001" / "a.txt", "disk folder as input");
    std::vector<FixtureEntry> one(1);
    writeFile(dir / "a.zip", makeZip(one));
    fs::create_hard_link(dir / "a.zip", dir / "out" / "hard.zip");
    const std::vector<uint8_t> zipBefore = readFile(dir / "a.zip");
    const std::string app = (dir / "app").string(), zip = (dir / "a.zip").string();

    const struct {
        const char* label;
        std::vector<std::string> args;
        const char* message; // empty: the build succeeds
    } cases[] = {
        {"the application's own setup.exe", {"-o", app + "/setup.exe", app}, "inside the folder being packed"},
        {"a new file in a subfolder", {"-o", app + "/sub/new.exe", app}, "inside the folder being packed"},
        {"a folder that does not exist yet", {"-o", app + "/new/deeper/x.exe", app}, "inside"},
        {"through ..", {"-o", (dir / "out" / ".." / "app" / "x.exe").string(), app}, "inside"},
        {"a link in the output's path", {"-o", (dir / "link-to-app" / "x.exe").string(), app}, "inside"},
        {"a link as the input", {"-o", app + "/x.exe", (dir / "link-to-app").string()}, "inside"},
        {"a link at the output", {"-o", (dir / "out" / "link-to-setup.exe").string(), app}, "inside"},
        {"spanned set inside", {"--span", "100000", "-o", app + "/SETUP.EXE", app}, "inside"},
        {"a disk folder is the input",
         {"--span", "100000", "-o", (dir / "SETUP.EXE").string(), (dir / "PKBACK# 001").string()}, "inside"},
        {"the input archive", {"-o", zip, zip}, "is the input archive"},
        {"the input archive by another name", {"-o", (dir / "out" / "hard.zip").string(), zip}, "is the input archive"},
        {"beside the input, a name that begins like it", {"-o", (dir / "app-setup" / "x.exe").string(), app}, ""},
        {"elsewhere", {"-o", (dir / "out" / "ok.exe").string(), app}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::string> args = {"--stub", (dir / "stub.exe").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun r = tool(args);
        if (*c.message == 0) {
            EXPECT_EQ(r.status, 0) << joined(args) << r.error;
            continue;
        }
        EXPECT_EQ(r.status, 1) << joined(args) << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(args[args.size() - 2]), std::string::npos) << "names the output: " << r.error;
        EXPECT_NE(r.error.find(args.back()), std::string::npos) << "names the input: " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
    }
    const std::string setup = "the application's own setup";
    EXPECT_EQ(readFile(dir / "app" / "setup.exe"), std::vector<uint8_t>(setup.begin(), setup.end()));
    EXPECT_FALSE(fs::exists(dir / "app" / "sub" / "new.exe"));
    EXPECT_FALSE(fs::exists(dir / "app" / "new"));
    EXPECT_FALSE(fs::exists(dir / "app" / "PKBACK# 001"));
    EXPECT_FALSE(fs::exists(dir / "PKBACK# 001" / "SETUP.EXE"));
    EXPECT_EQ(readFile(dir / "a.zip"), zipBefore);
}

// Nothing to pack is a failure, not an archive that ZIP tools call corrupt; empty folders are entries.
TEST(BuilderGuard, EmptyInputIsRefused)
{
    TempDir dir;
    writeFile(dir / "stub.exe", makeFakeStub());
    fs::create_directories(dir / "empty");
    fs::create_directories(dir / "folders" / "a" / "b");
    fs::create_directories(dir / "tmp-only");
    writeFile(dir / "tmp-only" / "x.tmp", "x");
    writeFile(dir / "empty.zip", makeZip({}));
    const struct {
        const char* input;
        std::vector<std::string> options;
        const char* message;
    } cases[] = {
        {"empty", {}, "nothing to pack: the folder holds no files or folders"},
        {"empty.zip", {}, "nothing to pack: the archive holds no entries"},
        {"tmp-only", {"--exclude", "*.tmp"}, "nothing to pack"},
        {"folders", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::vector<std::string> args = {"--stub", (dir / "stub.exe").string(), "-o", (dir / "o.exe").string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back((dir / c.input).string());
        fs::remove(dir / "o.exe");
        ToolRun r = tool(args);
        if (*c.message == 0) {
            ASSERT_EQ(r.status, 0) << r.error;
            EXPECT_EQ(entriesOf(dir / "o.exe"), (std::vector<std::string>{"a/", "a/b/"}));
            continue;
        }
        EXPECT_EQ(r.status, 1) << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(c.input), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists(dir / "o.exe"));
    }
}

// One rule for symbolic links: never stored as links; inside the folder packed as what they point to;
// outside it refused unless --follow-links; dangling and looping ones refused with their path.
TEST(BuilderGuard, SymbolicLinksFollowOneRule)
{
    TempDir dir;
    writeFile(dir / "stub.exe", makeFakeStub());
    fs::create_directories(dir / "outside" / "od");
    writeFile(dir / "outside" / "secret.txt", "S");
    writeFile(dir / "outside" / "od" / "x.txt", "X");
    // Every case packs a folder with a.txt and d/inner.txt plus what the case adds.
    const struct {
        const char* label;
        std::vector<std::pair<std::string, std::string>> links; // name in the folder, target
        std::vector<std::string> options;
        int status;
        const char* message;                 // with status 1: part of the line (the link's path is checked too)
        std::vector<std::string> extra;      // with status 0: the entries beyond a.txt, d/ and d/inner.txt
    } cases[] = {
        {"a file inside", {{"f.txt", "a.txt"}}, {}, 0, "", {"f.txt=A"}},
        {"a folder inside", {{"e", "d"}}, {}, 0, "", {"e/", "e/inner.txt=I"}},
        {"a file outside", {{"s.txt", "../outside/secret.txt"}}, {}, 1, "outside the folder being packed", {}},
        {"the system's password file", {{"p", "/etc/passwd"}}, {}, 1, "outside the folder being packed", {}},
        {"a folder outside", {{"o", "../outside/od"}}, {}, 1, "--follow-links", {}},
        {"a file outside, followed", {{"s.txt", "../outside/secret.txt"}}, {"--follow-links"}, 0, "", {"s.txt=S"}},
        {"a folder outside, followed", {{"o", "../outside/od"}}, {"--follow-links"}, 0, "", {"o/", "o/x.txt=X"}},
        {"dangling", {{"gone", "nothing-here"}}, {}, 1, "points nowhere", {}},
        {"dangling, excluded", {{"gone", "nothing-here"}}, {"--exclude", "gone"}, 0, "", {}},
        {"a loop through the folder itself", {{"d/up", ".."}}, {}, 1, "loop", {}},
        {"a loop, followed", {{"d/up", ".."}}, {"--follow-links"}, 1, "loop", {}},
        {"a link and a file, one name on Windows", {{"A.TXT", "d/inner.txt"}}, {}, 1, "one file on Windows", {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::path root = dir / ("root" + std::to_string(n++));
        fs::create_directories(root / "d");
        writeFile(root / "a.txt", "A");
        writeFile(root / "d" / "inner.txt", "I");
        for (const auto& link : c.links)
            makeLink(link.second, root / link.first);
        std::vector<std::string> args = {"--store", "--stub", (dir / "stub.exe").string(), "-o", (dir / "o.exe").string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(root.string());
        ToolRun r = tool(args);
        ASSERT_EQ(r.status, c.status) << joined(args) << r.error;
        if (c.status == 0) {
            std::vector<std::string> expected = {"a.txt=A", "d/", "d/inner.txt=I"};
            expected.insert(expected.end(), c.extra.begin(), c.extra.end());
            std::vector<std::string> got = entriesOf(dir / "o.exe");
            std::sort(expected.begin(), expected.end());
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, expected);
            continue;
        }
        EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(root.string()), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(fs::path(c.links[0].first).filename().string()), std::string::npos) << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
    }
}

// --exclude in the style of .gitignore lines, end to end; the matcher's rules have their own table.
TEST(BuilderGuard, ExcludeLeavesOutWhatThePatternsMatch)
{
    TempDir dir;
    writeFile(dir / "stub.exe", makeFakeStub());
    const fs::path in = dir / "in";
    for (const char* folder : {"build", "src/build", "docs/sub", "logs"})
        fs::create_directories(in / folder);
    for (const char* file : {"build/out.o", "src/a.c", "src/a.tmp", "src/build/gen.c", "docs/x.txt", "docs/sub/y.txt",
                             "logs/l.txt", "top.tmp", "notes"})
        writeFile(in / file, "");
    const struct {
        std::vector<std::string> patterns;
        std::vector<std::string> expected;
    } cases[] = {
        {{"*.tmp"},
         {"build/", "build/out.o=", "docs/", "docs/sub/", "docs/sub/y.txt=", "docs/x.txt=", "logs/", "logs/l.txt=",
          "notes=", "src/", "src/a.c=", "src/build/", "src/build/gen.c="}},
        {{"build/", "/docs/sub", "logs/**", "*.tmp", "notes/"},
         {"docs/", "docs/x.txt=", "logs/", "notes=", "src/", "src/a.c="}},
        {{"/build", "docs/*.txt", "src/**/*.c"},
         {"docs/", "docs/sub/", "docs/sub/y.txt=", "logs/", "logs/l.txt=", "notes=", "src/", "src/a.tmp=", "src/build/",
          "top.tmp="}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(joined(c.patterns));
        std::vector<std::string> args = {"--stub", (dir / "stub.exe").string(), "-o", (dir / "o.exe").string()};
        for (const std::string& p : c.patterns)
            args.insert(args.end(), {"--exclude", p});
        args.push_back(in.string());
        ToolRun r = tool(args);
        ASSERT_EQ(r.status, 0) << r.error;
        EXPECT_EQ(entriesOf(dir / "o.exe"), c.expected);
    }
    std::vector<FixtureEntry> one(1);
    writeFile(dir / "a.zip", makeZip(one));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--exclude", "*.tmp", "-o", (dir / "z.exe").string(), (dir / "a.zip").string()},
          std::vector<std::string>{"--follow-links", "-o", (dir / "z.exe").string(), (dir / "a.zip").string()},
          std::vector<std::string>{"--exclude", "", "-o", (dir / "z.exe").string(), in.string()},
          std::vector<std::string>{"--exclude", "!keep", "-o", (dir / "z.exe").string(), in.string()},
          std::vector<std::string>{"--exclude", "../x", "-o", (dir / "z.exe").string(), in.string()},
          std::vector<std::string>{"--exclude"}}) {
        std::vector<std::string> withStub = {"--stub", (dir / "stub.exe").string()};
        withStub.insert(withStub.end(), args.begin(), args.end());
        ToolRun r = tool(withStub);
        EXPECT_EQ(r.status, 2) << joined(withStub) << r.error;
        EXPECT_NE(r.error.find(args[0]), std::string::npos) << r.error;
    }
    EXPECT_FALSE(fs::exists(dir / "z.exe"));
}

// A missing stub says that it is the stub, where it was looked for, why that failed and the way out.
TEST(BuilderGuard, MissingStubNamesItselfWhereAndTheOption)
{
    TempDir dir;
    fs::create_directories(dir / "in");
    writeFile(dir / "in" / "a.txt", "a");
    const std::string out = (dir / "o.exe").string(), in = (dir / "in").string();
    const struct {
        std::vector<std::string> args;
        std::string toolFolder;
        std::string where;
    } cases[] = {
        {{"-o", out, in}, (dir / "bin").string(), (dir / "bin" / "aksfx32.exe").string()},
        {{"--stub", (dir / "mine.exe").string(), "-o", out, in}, "/nonexistent", (dir / "mine.exe").string()},
    };
    for (const auto& c : cases) {
        ToolRun r = tool(c.args, c.toolFolder);
        EXPECT_EQ(r.status, 1) << r.error;
        for (const std::string& part : {std::string("stub"), std::string("aksfx32.exe"), c.where,
                                        std::string("No such file or directory"), std::string("--stub FILE")})
            EXPECT_NE(r.error.find(part), std::string::npos) << part << " in: " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
    }
}

TEST(BuilderGuard, SilentSetsItsFlagAndTheInfoString)
{
    TempDir dir;
    fs::create_directories(dir / "in");
    writeFile(dir / "in" / "a.txt", "a");
    writeFile(dir / "stub.exe", makeFakeStub());
    ToolRun r = tool({"--silent", "--stub", (dir / "stub.exe").string(), "-o", (dir / "o.exe").string(), (dir / "in").string()});
    ASSERT_EQ(r.status, 0) << r.error;
    StubParameterBlock block;
    std::vector<uint8_t> f = readFile(dir / "o.exe");
    memcpy(&block, &f[0x400], sizeof block); // the fake stub's block
    EXPECT_EQ(block.flags & 0x4000000u, 0x4000000u) << std::hex << block.flags;
    ToolRun inspect = tool({"--inspect", (dir / "o.exe").string()});
    EXPECT_EQ(inspect.status, 0) << inspect.error;
    EXPECT_NE(inspect.out.find("SFXF_CRC_AFTER_HEADERS SFXF_SILENT\n"), std::string::npos) << inspect.out;
    EXPECT_NE(inspect.out.find("\"--silent\""), std::string::npos) << inspect.out;
    EXPECT_NE(tool({"--help"}).out.find("--silent"), std::string::npos);
}

// The program itself: warnings go to standard error as lines that begin with "warning:", and leave the
// exit status as it was; a missing stub beside the program is one line after "aksfx-build: ".
TEST(BuilderGuard, ProgramWarnsOnStandardErrorAndKeepsItsExitStatus)
{
    TempDir dir;
    fs::create_directories(dir / "in");
    writeFile(dir / "in" / "a.txt", "a");
    writeFile(dir / "stub.exe", makeFakeStub());
    fs::create_directories(dir / "bin");
    fs::copy_file(AKSFX_TOOL, dir / "bin" / "aksfx-build");
    const struct {
        std::string options;
        int status;
        std::vector<std::string> lines; // standard error, line by line
    } cases[] = {
        {"--stub stub.exe -o 'C:\\temp\\setup.exe' in", 0,
         {"warning: -o \"C:\\temp\\setup.exe\" looks like a Windows path; this Linux tool takes it as a Linux path (a '\\' "
          "is part of a file name here)"}},
        {"--stub stub.exe --folder /opt/app -o 'D:/setup.exe' in", 1,
         {"warning: -o \"D:/setup.exe\" looks like a Windows path; this Linux tool takes it as a Linux path (a '\\' is "
          "part of a file name here)",
          "warning: --folder \"/opt/app\" looks like a Unix path; the target folder is a Windows path, such as "
          "C:\\Apps\\Name or %ProgramFiles%\\Name",
          "aksfx-build: cannot write D:/setup.exe: No such file or directory"}},
        {"--stub stub.exe --folder '%ProgramFiles%\\App' -o ok.exe in", 0, {}},
        {"-o ok.exe in", 1,
         {"aksfx-build: cannot read the stub aksfx32.exe at " + (dir / "bin" / "aksfx32.exe").string()
          + " (its default place, beside this tool): No such file or directory; --stub FILE names another"}},
    };
    for (const auto& c : cases) {
        fs::path err = dir / "stderr.txt";
        int status = std::system(("cd '" + dir.path.string() + "' && bin/aksfx-build " + c.options + " 2>'" + err.string()
                                  + "' >/dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << c.options;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.options << "\n" << logText(err);
        std::string expected;
        for (const std::string& line : c.lines)
            expected += line + "\n";
        EXPECT_EQ(logText(err), expected) << c.options;
    }
    EXPECT_TRUE(fs::exists(dir / "C:\\temp\\setup.exe")) << "the Linux tool writes the name it was given";
}
