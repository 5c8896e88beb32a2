// The pure rules behind the building tool's guards, in tables: the --exclude matcher (both tools' styles),
// whether one resolved path lies inside another, the warnings about paths of the other system, and the
// readers that --inspect uses for the icon group, the version resource and the manifest.
#include <gtest/gtest.h>

#include "builder/build_error.h"
#include "builder/exclude_rules.h"
#include "builder/installer_resources.h"
#include "builder/path_guards.h"
#include "builder/resource_report.h"
#include "builder_test_support.h"

using namespace builder_test;

namespace {

const ExcludeStyle LINUX = {false, false};
const ExcludeStyle WINDOWS = {true, true};

std::vector<uint8_t> bytesOf(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

Resource resourceOf(uint16_t type, uint16_t id, const std::vector<uint8_t>& data)
{
    Resource r;
    r.type = ResourceName::number(type);
    r.name = ResourceName::number(id);
    r.data = data;
    return r;
}

} // namespace

TEST(ExcludeRules, MatchTable)
{
    const struct {
        const char* pattern;
        const char* path;
        bool folder;
        const ExcludeStyle& style;
        bool excluded;
    } cases[] = {
        // A pattern without '/' matches a name at any depth, files and folders alike.
        {"*.tmp", "a.tmp", false, LINUX, true},
        {"*.tmp", "x/y/a.tmp", false, LINUX, true},
        {"*.tmp", "a.tmp", true, LINUX, true},
        {"*.tmp", "a.tmpx", false, LINUX, false},
        {"*.tmp", "a.tmp/x", false, LINUX, false}, // the folder itself would be matched; its items are not walked
        {"*", "a/b", false, LINUX, true},
        {"?.c", "a.c", false, LINUX, true},
        {"?.c", "ab.c", false, LINUX, false},
        {"?.c", "\xC3\xA9.c", false, LINUX, true},  // one character of two bytes
        {"?.bin", "\xFF.bin", false, LINUX, true},  // a Linux name that is no UTF-8
        {"a*b*c", "aXbYc", false, LINUX, true},
        {"a*b*c", "abc", false, LINUX, true},
        {"a*b*c", "acb", false, LINUX, false},
        {"[ab].txt", "[ab].txt", false, LINUX, true}, // no character classes: brackets are plain characters
        {"[ab].txt", "a.txt", false, LINUX, false},
        // A trailing '/': folders only.
        {"build/", "build", true, LINUX, true},
        {"build/", "build", false, LINUX, false},
        {"build/", "src/build", true, LINUX, true},
        // A leading or inner '/': anchored at the input folder.
        {"/build", "build", false, LINUX, true},
        {"/build", "src/build", false, LINUX, false},
        {"docs/*.txt", "docs/a.txt", false, LINUX, true},
        {"docs/*.txt", "docs/sub/a.txt", false, LINUX, false},
        {"docs/*.txt", "x/docs/a.txt", false, LINUX, false},
        {"/docs/sub/", "docs/sub", true, LINUX, true},
        // "**" across components: none or more, at the end one or more.
        {"a/**/b", "a/b", false, LINUX, true},
        {"a/**/b", "a/x/y/b", false, LINUX, true},
        {"a/**/b", "b", false, LINUX, false},
        {"**/cache", "cache", true, LINUX, true},
        {"**/cache", "p/q/cache", true, LINUX, true},
        {"logs/**", "logs", true, LINUX, false},
        {"logs/**", "logs/x", false, LINUX, true},
        {"logs/**", "logs/x/y", false, LINUX, true},
        {"**", "a", false, LINUX, true},
        {"a//b", "a/b", false, LINUX, true},
        // Letter case and '\': as the tool's system takes them.
        {"*.TMP", "a.tmp", false, LINUX, false},
        {"*.TMP", "a.tmp", false, WINDOWS, true},
        {"\xC3\x89T\xC3\x89.txt", "\xC3\xA9t\xC3\xA9.txt", false, WINDOWS, true}, // ÉTÉ.txt, été.txt
        {"Docs\\*.txt", "docs/A.TXT", false, WINDOWS, true},
        {"Docs\\*.txt", "x/docs/a.txt", false, WINDOWS, false},
        {"build\\", "build", true, WINDOWS, true},
        {"build\\", "build", false, WINDOWS, false},
        {"a\\b", "a\\b", false, LINUX, true}, // on Linux '\' is part of a name
    };
    for (const auto& c : cases) {
        std::vector<ExcludePattern> patterns = {parseExcludePattern(c.pattern, c.style)};
        EXPECT_EQ(isExcluded(patterns, c.path, c.folder, c.style), c.excluded)
            << "pattern \"" << c.pattern << "\", path \"" << c.path << "\"" << (c.folder ? " (folder)" : "")
            << (c.style.ignoreCase ? " (Windows tool)" : "");
    }
    // Several patterns: any one excludes.
    std::vector<ExcludePattern> two = {parseExcludePattern("*.o", LINUX), parseExcludePattern("/dist/", LINUX)};
    EXPECT_TRUE(isExcluded(two, "dist", true, LINUX));
    EXPECT_TRUE(isExcluded(two, "src/x.o", false, LINUX));
    EXPECT_FALSE(isExcluded(two, "src/dist", true, LINUX));
    EXPECT_FALSE(isExcluded({}, "anything", false, LINUX));
}

TEST(ExcludeRules, PatternsThatNameNothingAreUsageErrors)
{
    for (const char* pattern : {"", "/", "//", "!keep.txt", "a/../b", "./a", ".."}) {
        try {
            parseExcludePattern(pattern, LINUX);
            ADD_FAILURE() << "accepted \"" << pattern << "\"";
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find("--exclude"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(parseExcludePattern("\\", WINDOWS), UsageError);
}

TEST(PathGuards, LiesWithinComparesWholeComponents)
{
    const struct {
        const char* inner;
        const char* outer;
        bool ignoreCase;
        bool within;
    } cases[] = {
        {"/a/b", "/a", false, true},
        {"/a", "/a", false, true},
        {"/a/b/c.exe", "/a/b/", false, true},
        {"/a/bc", "/a/b", false, false},
        {"/a", "/a/b", false, false},
        {"/x", "/", false, true},
        {"/A/b", "/a", false, false},
        {"/A/b", "/a", true, true},
        {"/\xC3\x89t\xC3\xA9/x", "/\xC3\xA9t\xC3\xA9", true, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pathLiesWithin(c.inner, c.outer, c.ignoreCase), c.within)
            << c.inner << " in " << c.outer << (c.ignoreCase ? " ignoring case" : "");
}

TEST(PathGuards, WarningsAboutPathsOfTheOtherSystem)
{
    const struct {
        const char* output;
        bool windowsTool;
        bool warns;
    } outputs[] = {
        {"C:\\temp\\setup.exe", false, true},
        {"d:/dist/setup.exe", false, true},
        {"dist\\setup.exe", false, true},
        {"setup.exe", false, false},
        {"dist/setup.exe", false, false},
        {"/home/me/setup.exe", false, false},
        {"C:setup.exe", false, false},
        {"/home/me/setup.exe", true, true},
        {"/tmp", true, true},
        {"/usr/local/x.exe", true, true},
        {"~/setup.exe", true, true},
        {"/tmpfiles/setup.exe", true, false},
        {"/Home/setup.exe", true, false},
        {"C:\\dist\\setup.exe", true, false},
        {"\\\\server\\share\\setup.exe", true, false},
        {"dist/setup.exe", true, false},
    };
    for (const auto& c : outputs) {
        std::string w = outputPathWarning(c.output, c.windowsTool);
        EXPECT_EQ(!w.empty(), c.warns) << c.output << (c.windowsTool ? " (Windows tool): " : " (Linux tool): ") << w;
        if (c.warns) {
            EXPECT_NE(w.find(c.output), std::string::npos) << w;
        }
    }
    const struct {
        const char* folder;
        bool warns;
    } folders[] = {
        {"/opt/app", true},
        {"~/app", true},
        {"~", true},
        {"sub/map", true},
        {"C:\\Apps\\Name", false},
        {"C:/Apps/Name", false},
        {"%ProgramFiles%\\MyApp", false},
        {"%ProgramFiles%/MyApp", false},
        {"%%/x", true},
        {"sub\\map", false},
        {"a/b\\c", false},
        {"out", false},
        {"", false},
    };
    for (const auto& c : folders) {
        std::string w = folderTextWarning(c.folder);
        EXPECT_EQ(!w.empty(), c.warns) << c.folder << ": " << w;
    }
}

TEST(ResourceReport, IconGroupLines)
{
    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0};
    std::vector<uint8_t> bitmap(40, 0);
    bitmap[0] = 40;
    bitmap[14] = 8;                                                // biBitCount 8
    std::vector<uint8_t> group = {0, 0, 1, 0, 3, 0};               // reserved, type icon, three images
    const uint8_t entries[3][14] = {
        {0, 0, 0, 0, 1, 0, 32, 0, 10, 0, 0, 0, 7, 0},                // 256x256, 32 bit, id 7
        {48, 48, 0, 0, 1, 0, 0, 0, 40, 0, 0, 0, 8, 0},               // 48x48, bit count left to the image, id 8
        {16, 16, 0, 0, 1, 0, 4, 0, 40, 0, 0, 0, 9, 0},               // 16x16, 4 bit, id 9: not there
    };
    for (const auto& e : entries)
        group.insert(group.end(), e, e + 14);
    std::vector<Resource> resources = {resourceOf(RES_TYPE_ICON, 7, png), resourceOf(RES_TYPE_ICON, 8, bitmap),
                                       resourceOf(RES_TYPE_GROUP_ICON, 1, group)};
    EXPECT_EQ(iconGroupLine(resources), "icon group 1: 3 images: 256x256 32-bit PNG, 48x48 8-bit bitmap, 16x16 4-bit missing");
    resources.back().data.resize(6 + 2 * 14 + 5);
    EXPECT_EQ(iconGroupLine(resources), "icon group 1: damaged (its 3 entries run past its end)");
    resources.back().data.resize(3);
    EXPECT_EQ(iconGroupLine(resources), "icon group 1: damaged (shorter than its header)");
    EXPECT_EQ(iconGroupLine({}), "icon: none");
}

TEST(ResourceReport, VersionLinesAndDamagedTrees)
{
    const std::vector<uint8_t> version =
        versionResource(parseVersionInfo("FileVersion=1.2.3.4;ProductVersion=5.6;ProductName=Voor\"beeld"));
    EXPECT_EQ(versionLines(version), (std::vector<std::string>{"fixed FileVersion 1.2.3.4, ProductVersion 5.6.0.0",
                                                               "FileVersion=\"1.2.3.4\"", "ProductVersion=\"5.6\"",
                                                               "ProductName=\"Voor\"beeld\""}));
    // Every cut of the resource and every changed length field gives lines or "damaged", never a read
    // outside (AddressSanitizer watches).
    for (size_t n = 0; n < version.size(); n++) {
        std::vector<uint8_t> cut(version.begin(), version.begin() + n);
        std::vector<std::string> lines = versionLines(cut);
        ASSERT_FALSE(lines.empty()) << n;
    }
    for (size_t at = 0; at + 1 < version.size(); at += 2) {
        for (uint16_t value : {0, 1, 6, 0x7FFF, 0xFFFF}) {
            std::vector<uint8_t> changed = version;
            put16(changed, at, value);
            ASSERT_FALSE(versionLines(changed).empty()) << at;
        }
    }
    std::vector<uint8_t> lying = version;
    put16(lying, 0, (uint32_t)version.size() + 4); // the root says it is longer than the resource
    EXPECT_EQ(versionLines(lying), (std::vector<std::string>{"version resource: damaged (a node runs past what holds it)"}));
}

TEST(ResourceReport, ExecutionLevelOfTheManifest)
{
    const struct {
        const char* manifest;
        const char* level;
    } cases[] = {
        {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>", "asInvoker"},
        {"<requestedExecutionLevel level='requireAdministrator'/>", "requireAdministrator"},
        {"<requestedExecutionLevel uiAccess=\"false\" level=\"highestAvailable\"/>", "highestAvailable"},
        {"<requestedExecutionLevel\r\n   level=\"highestAvailable\"/>", "highestAvailable"},
        {"<assembly/>", "(no requestedExecutionLevel: asInvoker)"},
        {"<requestedExecutionLevel uiAccess=\"false\"/>", "(a requestedExecutionLevel without a level)"},
        {"<requestedExecutionLevel level=asInvoker />", "(a requestedExecutionLevel without a quoted level)"},
        {"<requestedExecutionLevel level=\"as Invoker\"/>", "\"as Invoker\""},
        {"<requestedExecutionLevel level=\"", "(a requestedExecutionLevel without a level)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(executionLevel(bytesOf(c.manifest)), c.level) << c.manifest;
}
