// The command-line rules of the stub: -info / -parent=, the AUTO switch, and the relaunch's arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/relaunch_rules.h"
#include "startup/command_line.h"

namespace {

TEST(InfoAndParent, ScanTable)
{
    struct Case {
        const wchar_t* line;
        bool info, parentGiven;
        long parent;
    } cases[] = {
        {L"", false, false, 0},
        {L"-info", true, false, 0},
        {L"\"C:\\my-information\\x.exe\"", true, false, 0}, // inside a quoted path, inside a word
        {L"-INFO", false, false, 0},                         // case counts
        {L"-parent=123", false, true, 123},
        {L"-parent=  -42x", false, true, -42},
        {L"-parent=+7", false, true, 7},
        {L"-parent=abc", false, true, 0},
        {L"-parent=1 -parent=2", false, true, 2},            // the last one counts
        {L"-parent=5 -info -parent=9", true, true, 5},       // -info ends the scan
        {L"x-parent=-parent=8", false, true, 8},
    };
    for (const Case& c : cases) {
        InfoParentScan s = scanInfoAndParent(c.line);
        int i = (int)(&c - cases);
        EXPECT_EQ(s.infoFound, c.info) << "case " << i;
        EXPECT_EQ(s.parentGiven, c.parentGiven) << "case " << i;
        EXPECT_EQ(s.parentWindow, c.parent) << "case " << i;
    }
}

struct AutoCase {
    const wchar_t* line;
    AutoSwitch result;
    const wchar_t* rest; // for AUTO
};

TEST(AutoSwitchRule, Table)
{
    std::wstring longFolder = L"/AUTO " + std::wstring(261, L'f');
    std::wstring exactFolder = L"/AUTO " + std::wstring(260, L'f');
    AutoCase cases[] = {
        {L"", AUTO_SWITCH_NONE, nullptr},
        {L"C:\\folder", AUTO_SWITCH_NONE, nullptr},
        {L"/auto", AUTO_SWITCH_AUTO, L""},
        {L"-Auto", AUTO_SWITCH_AUTO, L""},
        {L"/NOAUTO", AUTO_SWITCH_NOAUTO, nullptr},
        {L"/noauto C:\\x", AUTO_SWITCH_NOAUTO, nullptr},
        {L"/AUTOMATIC", AUTO_SWITCH_AUTO, L"MATIC"},
        {L"/AUTO   \"C:\\Program Files\\App\"", AUTO_SWITCH_AUTO, L"\"C:\\Program Files\\App\""},
        {L"/AUT", AUTO_SWITCH_NONE, nullptr},              // fewer than four characters
        {L"/xyz1", AUTO_SWITCH_NONE, nullptr},
        {L"-parent=5 /AUTO", AUTO_SWITCH_NONE, nullptr},   // the first switch belongs to -parent=
        {L"a/auto", AUTO_SWITCH_AUTO, L""},
        {longFolder.c_str(), AUTO_SWITCH_TOO_LONG, nullptr},
        {exactFolder.c_str(), AUTO_SWITCH_AUTO, nullptr},
    };
    for (const AutoCase& c : cases) {
        std::wstring line = c.line;
        const wchar_t* rest = nullptr;
        int i = (int)(&c - cases);
        EXPECT_EQ(findAutoSwitch(&line[0], L"AUTO", L"NOAUTO", &rest), c.result) << "case " << i;
        if (c.result == AUTO_SWITCH_AUTO && c.rest) {
            EXPECT_STREQ(rest, c.rest) << "case " << i;
        }
    }
}

TEST(AutoSwitchRule, CapitalisesOnlyTheFirstWord)
{
    std::wstring line = L"/auto1 c:\\lower";
    const wchar_t* rest;
    EXPECT_EQ(findAutoSwitch(&line[0], L"AUTO", L"NOAUTO", &rest), AUTO_SWITCH_AUTO);
    // '1' & 0xDF is 0x11: every character of the word changes, not only letters.
    EXPECT_EQ(line, std::wstring(L"/AUTO\x11 c:\\lower"));
}

TEST(AutoSwitchRule, FirstArgumentThatIsNotAnOption)
{
    std::vector<std::wstring> args = {L"-x", L"-y", L"C:\\Out", L"D:\\Other"};
    std::vector<wchar_t*> ptrs;
    for (auto& a : args)
        ptrs.push_back(&a[0]);
    EXPECT_STREQ(firstFolderArgument(ptrs.data(), 4), L"C:\\Out");
    EXPECT_EQ(firstFolderArgument(ptrs.data(), 2), nullptr);
}

TEST(Relaunch, CopyCommandLine)
{
    struct Case {
        const wchar_t* line;
        const wchar_t* name; // first argument as the system splits it
        const wchar_t* expected;
    } cases[] = {
        {L"\"C:\\Dir Name\\setup.exe\" /auto", L"C:\\Dir Name\\setup.exe",
         L" /auto -run=1 -shortcut=\"C:\\Dir Name\\setup.exe\""},
        {L"setup.exe", L"setup.exe", L" -run=1 -shortcut=\"C:\\Dir Name\\setup.exe\""},
        {L"setup.exe a b", L"setup.exe", L" a b -run=1 -shortcut=\"C:\\Dir Name\\setup.exe\""},
        {L"\"setup.exe\"", L"setup.exe", L" -run=1 -shortcut=\"C:\\Dir Name\\setup.exe\""},
        {L"", L"", L" -run=1 -shortcut=\"C:\\Dir Name\\setup.exe\""},
    };
    for (const Case& c : cases) {
        uint32_t units = copyCommandLineUnits(c.line, c.name, L"C:\\Dir Name\\setup.exe");
        std::vector<wchar_t> out(units, L'#');
        buildCopyCommandLine(c.line, c.name, L"C:\\Dir Name\\setup.exe", out.data());
        EXPECT_STREQ(out.data(), c.expected);
        EXPECT_EQ(units, wcslen(c.expected) + 1);
    }
}

TEST(Relaunch, FolderNamesAndMarkers)
{
    wchar_t name[9];
    folderNameFor(305419896, name);
    EXPECT_STREQ(name, L"12345678");
    folderNameFor(0xFFFFFFFFu, name);
    EXPECT_STREQ(name, L"ffffffff");
    folderNameFor(0, name);
    EXPECT_STREQ(name, L"0");

    EXPECT_TRUE(isRunMarker(L"-run=1", true));
    EXPECT_TRUE(isRunMarker(L"-RUN=1", false));
    EXPECT_FALSE(isRunMarker(L"-RUN=1", true));
    EXPECT_FALSE(isRunMarker(L"-run=10", false));
    EXPECT_FALSE(isRunMarker(L"-run=", false));

    std::vector<std::wstring> args = {L"prog", L"-Shortcut=x", L"-shortcut=", L"-shortcut=C:\\a b\\s.exe"};
    std::vector<wchar_t*> ptrs;
    for (auto& a : args)
        ptrs.push_back(&a[0]);
    EXPECT_STREQ(findShortcutArgument(ptrs.data(), 4), L"");
    EXPECT_EQ(findShortcutArgument(ptrs.data(), 2), nullptr);
}

} // namespace
