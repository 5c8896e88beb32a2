// aksfx-build.exe where it differs from the Linux tool: the stub it looks for beside itself, the real paths
// it compares (resolved by the system, letter case ignored), the Unix paths it warns about, and the
// --exclude patterns it takes with '\' and any letter case. Each case runs the program as a script would.
#include <gtest/gtest.h>

#include <windows.h>

#include "test_files.h"
#include "ui_driver.h"

namespace {

struct ToolRun {
    DWORD status;
    std::string output; // standard output and standard error together
};

ToolRun runTool(const std::wstring& program, const std::wstring& arguments)
{
    ToolRun r;
    r.status = runConsole(L"\"" + program + L"\" " + arguments, &r.output);
    return r;
}

// A folder to pack: app\setup.exe, app\logs\today.log and app\Docs\readme.txt.
std::wstring makeApp(const std::wstring& dir)
{
    std::wstring app = dir + L"app\\";
    CreateDirectoryW(app.c_str(), nullptr);
    CreateDirectoryW((app + L"logs").c_str(), nullptr);
    CreateDirectoryW((app + L"Docs").c_str(), nullptr);
    writeText(app + L"setup.exe", "the application's own setup");
    writeText(app + L"logs\\today.log", "log");
    writeText(app + L"Docs\\readme.txt", "lees mij");
    return app;
}

} // namespace

// Without --stub the tool looks beside itself; a copy of it in a folder without the stub says so.
TEST(WindowsBuildTool, MissingStubNamesItselfWhereAndTheOption)
{
    std::wstring dir = scratchFolder(L"tool-missing-stub");
    std::wstring app = makeApp(dir);
    std::wstring program = dir + L"aksfx-build.exe";
    ASSERT_TRUE(CopyFileW(buildProgram(L"aksfx-build.exe").c_str(), program.c_str(), FALSE));
    ToolRun r = runTool(program, L"-o " + quote(dir + L"out.exe") + L" " + quote(app));
    EXPECT_EQ(r.status, 1u) << r.output;
    for (const std::string& part : {std::string("aksfx-build: cannot read the stub aksfx32.exe at "),
                                    narrow(dir) + "aksfx32.exe", std::string("No such file or directory"),
                                    std::string("--stub FILE")})
        EXPECT_NE(r.output.find(part), std::string::npos) << part << " in: " << r.output;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << "one line: " << r.output;
    EXPECT_FALSE(exists(dir + L"out.exe"));

    r = runTool(program, L"--stub " + quote(dir + L"mine.exe") + L" -o " + quote(dir + L"out.exe") + L" " + quote(app));
    EXPECT_EQ(r.status, 1u) << r.output;
    EXPECT_NE(r.output.find("the stub (aksfx32.exe) given with --stub, " + narrow(dir) + "mine.exe"), std::string::npos)
        << r.output;
}

// The output may not land in the folder being packed, also when the paths differ in letter case or
// reach it through "..": the system's own view of both paths decides.
TEST(WindowsBuildTool, OutputInsideTheInputIsRefused)
{
    std::wstring dir = scratchFolder(L"tool-inside");
    std::wstring app = makeApp(dir);
    const std::wstring program = buildProgram(L"aksfx-build.exe");
    const std::wstring stub = L"--stub " + quote(buildProgram(L"aksfx32.exe"));
    const struct {
        std::wstring output;
        DWORD status;
    } cases[] = {
        {app + L"setup.exe", 1},
        {dir + L"APP\\NEW\\x.exe", 1},
        {dir + L"other\\..\\app\\logs\\x.exe", 1},
        {dir + L"app-setup.exe", 0},
    };
    for (const auto& c : cases) {
        ToolRun r = runTool(program, stub + L" -o " + quote(c.output) + L" " + quote(dir + L"app"));
        EXPECT_EQ(r.status, c.status) << narrow(c.output) << ": " << r.output;
        if (c.status == 1) {
            EXPECT_NE(r.output.find("inside the folder being packed"), std::string::npos) << r.output;
        }
    }
    EXPECT_EQ(readWhole(app + L"setup.exe").size(), std::string("the application's own setup").size());
    EXPECT_FALSE(exists(dir + L"app\\NEW"));
}

// A Unix-looking -o gets a warning line and leaves the exit status as it is; a Windows path gets none.
// --exclude takes '\' and ignores letter case here; --test lists what the file holds.
TEST(WindowsBuildTool, WarnsAboutUnixPathsAndExcludesAsWindowsDoes)
{
    std::wstring dir = scratchFolder(L"tool-warn");
    std::wstring app = makeApp(dir);
    const std::wstring program = buildProgram(L"aksfx-build.exe");
    const std::wstring stub = L"--stub " + quote(buildProgram(L"aksfx32.exe"));

    ToolRun r = runTool(program, stub + L" -o /home/nobody-here/setup.exe " + quote(app));
    EXPECT_EQ(r.status, 1u) << r.output;
    EXPECT_EQ(r.output.find("warning: -o \"/home/nobody-here/setup.exe\" looks like a Unix path"), 0u) << r.output;
    EXPECT_NE(r.output.find("\naksfx-build: cannot write "), std::string::npos) << r.output;

    std::wstring out = dir + L"setup.exe";
    r = runTool(program, stub + L" --exclude " + quote(L"LOGS\\") + L" --exclude " + quote(L"docs\\*.TXT") + L" -o "
                             + quote(out) + L" " + quote(app));
    EXPECT_EQ(r.status, 0u) << r.output;
    EXPECT_EQ(r.output.find("warning"), std::string::npos) << r.output;
    r = runTool(program, L"--test " + quote(out));
    EXPECT_EQ(r.status, 0u) << r.output;
    EXPECT_NE(r.output.find("  \"Docs/\"  folder: ok"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("  \"setup.exe\"  "), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("logs"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("readme"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2 entries: 2 ok, 0 damaged"), std::string::npos) << r.output;
}

// Links made on the Linux side, which Wine shows as a folder with the reparse attribute but no tag, or as
// a plain file: both are links here too. One that leads out of the folder is refused without
// --follow-links and packed with it; one inside is packed as its folder.
TEST(WindowsBuildTool, FolderLinksFollowTheRule)
{
    const std::wstring root = buildProgram(L"fixtures\\builder-links\\");
    ASSERT_TRUE(exists(root + L"in\\a.txt")) << "the fixture step make_builder_link_fixture.sh has not run";
    std::wstring dir = scratchFolder(L"tool-links");
    const std::wstring program = buildProgram(L"aksfx-build.exe");
    const std::wstring stub = L"--stub " + quote(buildProgram(L"aksfx32.exe"));
    ToolRun r = runTool(program, stub + L" -o " + quote(dir + L"refused.exe") + L" " + quote(root + L"in"));
    EXPECT_EQ(r.status, 1u) << r.output;
    EXPECT_NE(r.output.find("in\\f.txt is a symbolic link to "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("outside the folder being packed"), std::string::npos) << r.output;
    EXPECT_FALSE(exists(dir + L"refused.exe"));
    r = runTool(program, stub + L" --exclude f.txt -o " + quote(dir + L"refused.exe") + L" " + quote(root + L"in"));
    EXPECT_EQ(r.status, 1u) << r.output;
    EXPECT_NE(r.output.find("in\\o is a symbolic link to "), std::string::npos) << r.output;

    r = runTool(program, stub + L" --follow-links -o " + quote(dir + L"followed.exe") + L" " + quote(root + L"in"));
    ASSERT_EQ(r.status, 0u) << r.output;
    r = runTool(program, L"--test " + quote(dir + L"followed.exe"));
    EXPECT_EQ(r.status, 0u) << r.output;
    for (const char* line : {"  \"e/\"  folder: ok", "  \"e/inner.txt\"  1 bytes", "  \"f.txt\"  1 bytes",
                             "  \"o/x.txt\"  1 bytes", "8 entries: 8 ok"})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
}
