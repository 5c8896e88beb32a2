// The tool's installer options end to end through runTool: --run and --run-wait (flags, header text 2,
// the default info string, --inspect) and what it refuses, with which exit status: the program must be a
// file entry of the archive under the stub's name rule; --icon, --version-info and --admin reach the
// output's resources, and bad values are refused with one line.
#include <gtest/gtest.h>

#include <sstream>

#include "builder/build_options.h"
#include "builder/pe_resources.h"
#include "builder/unicode_text.h"
#include "icon_fixture.h"
#include "installer_fixture.h"

using namespace installer_fixture;

namespace {

// A folder with a program at the top, one in a subfolder with a blank in its name, and a text file.
struct InstallerInput {
    TempDir dir;
    std::string stub = (dir / "stub.exe").string();
    std::string input = (dir / "in").string();
    std::string output = (dir / "out.exe").string();
    std::string icon = (dir / "a.ico").string();

    InstallerInput()
    {
        fs::create_directories(dir / "in" / "Tools dir");
        writeFile(dir / "in" / "Setup.exe", std::string("MZ setup"));
        writeFile(dir / "in" / "Tools dir" / "helper.exe", std::string("MZ helper"));
        writeFile(dir / "in" / "readme.txt", std::string("lees mij"));
        writeFile(dir / "in" / "Pakket.msi", std::string("an installer package"));
        writeFile(dir / "in" / "setup.bat", std::string("@echo off"));
        writeFile(dir / "in" / "Setup.cmd", std::string("@echo off"));
        writeFile(dir / "in" / "setup", std::string("no extension"));
        writeFile(dir / "in" / "\xD0\xA3\xD1\x81\xD1\x82.exe", std::string("MZ Cyrillic name"));
        writeFile(dir / "stub.exe", stubWithResources());
        writeFile(dir / "a.ico", icon_fixture::makeIcon({{16, 0xFF0000FF}}));
    }

    // Runs the tool with --stub, -o and the input around the options.
    int tool(std::vector<std::string> options, std::string* error, std::string* report = nullptr)
    {
        std::vector<std::string> args = {"--stub", stub, "-o", output};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(input);
        std::ostringstream out;
        int status = runTool(args, "", out, error);
        if (report)
            *report = out.str();
        return status;
    }

    std::string inspect()
    {
        std::ostringstream out;
        std::string error;
        EXPECT_EQ(runTool({"--inspect", output}, "", out, &error), 0) << error;
        return out.str();
    }
};

} // namespace

TEST(RunOption, SetsTheFlagsTheCommandAndTheInfoString)
{
    const struct {
        std::vector<std::string> options;
        const char* flags;
        const char* command;
        const char* info;
    } cases[] = {
        {{"--run", "Setup.exe /quiet"}, "SFXF_RUN_AFTER", "Setup.exe /quiet", "--run"},
        {{"--auto", "--run", "setup.EXE", "--run-wait"}, "SFXF_AUTO SFXF_CRC_AFTER_HEADERS SFXF_RUN_AFTER SFXF_RUN_WAIT",
         "setup.EXE", "--auto --run --run-wait"},
        {{"--run", "\"Tools dir\\helper.exe\" -x \"a b\""}, "SFXF_RUN_AFTER", "\"Tools dir\\helper.exe\" -x \"a b\"",
         "--run"},
        {{"--run", "\"tools DIR/Helper.exe\""}, "SFXF_RUN_AFTER", "\"tools DIR/Helper.exe\"", "--run"},
        // An installer package, which the stub hands to msiexec.exe.
        {{"--run", "pakket.MSI /qn", "--run-wait", "--icon", "", "--admin"}, "SFXF_RUN_AFTER SFXF_RUN_WAIT",
         "pakket.MSI /qn", "--run --run-wait --icon --admin"},
        // Letter case beyond Latin-1: "уСТ.EXE" names the entry "Уст.exe" (Cyrillic).
        {{"--run", "\xD1\x83\xD0\xA1\xD0\xA2.EXE"}, "SFXF_RUN_AFTER", "\xD1\x83\xD0\xA1\xD0\xA2.EXE", "--run"},
    };
    for (const auto& c : cases) {
        InstallerInput s;
        std::vector<std::string> options = c.options;
        for (std::string& o : options)
            if (o.empty())
                o = s.icon;
        std::string error;
        ASSERT_EQ(s.tool(options, &error), 0) << c.command << ": " << error;
        std::string report = s.inspect();
        EXPECT_NE(report.find(c.flags), std::string::npos) << c.command << "\n" << report;
        EXPECT_NE(report.find(std::string("2 run      \"") + c.command + "\""), std::string::npos) << report;
        EXPECT_NE(report.find(std::string("5 info     \"") + c.info + "\""), std::string::npos) << report;
    }
    // Without --run the header's text 2 stays empty and neither flag is set.
    InstallerInput plain;
    std::string error;
    ASSERT_EQ(plain.tool({}, &error), 0) << error;
    std::string report = plain.inspect();
    EXPECT_NE(report.find("2 run      \"\""), std::string::npos) << report;
    EXPECT_EQ(report.find("SFXF_RUN"), std::string::npos) << report;
}

TEST(RunOption, RefusesProgramsTheStubCouldNotStart)
{
    const struct {
        std::vector<std::string> options;
        int status;
        const char* message;
    } cases[] = {
        // Not a file of the archive (exit 1).
        {{"--run", "missing.exe"}, 1, "--run program \"missing.exe\" is not a file in the archive"},
        {{"--run", "\"Tools dir\""}, 1, "is a folder in the archive, not a file"},
        {{"--run", "\"Tools dir\\\""}, 1, "is no name below the target folder"},
        {{"--run", "Tools"}, 1, "is not a file in the archive"},
        {{"--run", "\"Tools dir\\helper.ex\""}, 1, "is not a file in the archive"},
        // Files that are neither a program nor an installer package (exit 1).
        {{"--run", "readme.txt"}, 1, "--run program \"readme.txt\" is neither a program (.exe) nor an installer package (.msi)"},
        {{"--run", "setup.bat /q"}, 1, "is neither a program (.exe) nor an installer package (.msi): a batch file would "
                                       "hand the target folder's name to cmd.exe's parsing"},
        {{"--run", "SETUP.CMD"}, 1, "a batch file would hand the target folder's name"},
        {{"--run", "setup"}, 1, "--run program \"setup\" is neither a program"},
        // Names the stub's rule refuses (exit 1).
        {{"--run", "..\\Setup.exe"}, 1, "is no name below the target folder"},
        {{"--run", "../x.exe"}, 1, "is no name below the target folder"},
        {{"--run", "C:\\Windows\\notepad.exe"}, 1, "is no name below the target folder"},
        {{"--run", "\\Setup.exe"}, 1, "is no name below the target folder"},
        {{"--run", "CON.exe"}, 1, "is no name below the target folder"},
        {{"--run", "Setup.exe:stream"}, 1, "is no name below the target folder"},
        // Texts the stub cannot split, and option combinations (usage errors, exit 2).
        {{"--run", ""}, 2, "--run needs a program name first"},
        {{"--run", "   "}, 2, "--run needs a program name first"},
        {{"--run", "\"Setup.exe"}, 2, "--run needs a program name first"},
        {{"--run", "\"\" x"}, 2, "--run needs a program name first"},
        {{"--run", std::string(261, 'p')}, 2, "--run needs a program name first"},
        {{"--run", "Setup.exe " + std::string(510, 'a')}, 2, "--run text has 520 UTF-16 units; the stub holds at most 519"},
        {{"--run", "Setup.exe \xFF"}, 2, "--run text is not valid UTF-8"},
        {{"--run-wait"}, 2, "--run-wait needs --run"},
    };
    for (const auto& c : cases) {
        InstallerInput s;
        std::string error;
        EXPECT_EQ(s.tool(c.options, &error), c.status) << c.options.back() << ": " << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.options.back() << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(s.output)) << c.options.back();
    }
    // The longest text the stub holds is taken.
    InstallerInput s;
    std::string error;
    EXPECT_EQ(s.tool({"--run", "Setup.exe " + std::string(509, 'a')}, &error), 0) << error;
}

TEST(ResourceOptions, ReachTheOutputAndBadValuesAreRefused)
{
    InstallerInput s;
    std::string error;
    ASSERT_EQ(s.tool({"--icon", s.icon, "--version-info", "FileVersion=3.1;ProductName=Voorbeeld", "--admin"}, &error),
              0)
        << error;
    std::vector<Resource> resources = readResources(readFile(s.output));
    std::string manifest;
    bool version = false, group = false;
    for (const Resource& r : resources) {
        version = version || (r.type.isNumber(RES_TYPE_VERSION) && r.name.isNumber(1));
        group = group || (r.type.isNumber(RES_TYPE_GROUP_ICON) && r.name.isNumber(1) && r.data.size() == 20);
        if (r.type.isNumber(RES_TYPE_MANIFEST))
            manifest.assign(r.data.begin(), r.data.end());
    }
    EXPECT_TRUE(version);
    EXPECT_TRUE(group);
    EXPECT_NE(manifest.find("requireAdministrator"), std::string::npos) << manifest;
    EXPECT_NE(s.inspect().find("last section:    _arklet_"), std::string::npos);

    std::vector<uint8_t> notIcon = {'P', 'K', 3, 4, 0, 0};
    writeFile(s.dir / "bad.ico", notIcon);
    const std::string bad = (s.dir / "bad.ico").string();
    std::vector<uint8_t> shared = icon_fixture::makeIcon({{16, 0xFF0000FF}, {16, 0xFF00FF00}});
    std::copy(shared.begin() + 6 + 8, shared.begin() + 6 + 16, shared.begin() + 6 + 16 + 8); // image 2 = image 1
    writeFile(s.dir / "shared.ico", shared);
    std::vector<uint8_t> large = icon_fixture::makeIcon({{16, 0xFF0000FF}});
    large.resize(ICON_MAX_FILE_BYTES + 1, 0);
    writeFile(s.dir / "large.ico", large);
    std::vector<uint8_t> noManifest = roomyStub();
    writeFile(s.dir / "bare.exe", noManifest);
    const struct {
        std::vector<std::string> options;
        int status;
        std::string message;
    } cases[] = {
        {{"--icon", bad}, 1, bad + ": not an icon file (.ico): no icon directory at its start"},
        {{"--icon", (s.dir / "none.ico").string()}, 1, "none.ico"},
        {{"--icon", (s.dir / "shared.ico").string()}, 1, "shared.ico: icon images 1 and 2 share bytes of the file"},
        {{"--icon", (s.dir / "large.ico").string()}, 1, "large.ico: the icon file is larger than 16 MiB"},
        {{"--version-info", "ProductName=x"}, 2, "--version-info needs FileVersion=a.b.c.d (see aksfx-build --help)"},
        {{"--version-info", "FileVersion=1.2.3.4.5"}, 2, "is not 1 to 4 numbers"},
        {{"--admin", "--stub", (s.dir / "bare.exe").string()}, 1,
         (s.dir / "bare.exe").string() + ": stub has no manifest (resource type 24, id 1)"},
    };
    for (const auto& c : cases) {
        fs::remove(s.output);
        std::string what;
        EXPECT_EQ(s.tool(c.options, &what), c.status) << c.options[0] << ": " << what;
        EXPECT_NE(what.find(c.message), std::string::npos) << c.options[0] << ": " << what;
        EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        EXPECT_FALSE(fs::exists(s.output)) << c.options[0];
    }
}
