// The command-line rules of the stub: -info / -parent=, the AUTO switch, the switches of unattended use,
// and the relaunch's arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "argument_splitter_model.h"
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

const wchar_t STARTED[] = L"C:\\Dir Name\\setup.exe";

// The copy's command line for a started line, built the way the relaunch builds it.
std::wstring copyLineFor(const std::wstring& commandLine)
{
    uint32_t units = copyCommandLineUnits(commandLine.c_str(), STARTED);
    std::vector<wchar_t> out(units, L'#');
    const wchar_t* rest = commandLine.c_str() + programNameEnd(commandLine.c_str());
    buildCopyCommandLine(commandLine.c_str(), STARTED, argumentTail(rest).insideQuote, out.data());
    return out.data();
}

// The arguments nextArgument reads from the user's part of a line: the model's, from its second on.
static std::vector<std::wstring> readArguments(const std::wstring& rest, std::wstring* spans = nullptr)
{
    std::vector<std::wstring> arguments;
    uint32_t position = 0, start = 0;
    wchar_t value[64];
    bool cut = false;
    while (nextArgument(rest.c_str(), &position, &start, value, 64, &cut)) {
        arguments.push_back(value);
        if (spans)
            *spans += rest.substr(start, position - start) + L"|";
    }
    return arguments;
}

static void expectSplitterArguments(const std::wstring& line)
{
    std::vector<std::wstring> expected = splitter_model::split(line);
    expected.erase(expected.begin());
    std::wstring rest = line.substr(programNameEnd(line.c_str()));
    std::wstring spans;
    EXPECT_EQ(readArguments(rest, &spans), expected) << "line [" << std::string(line.begin(), line.end()) << "]";
    // Each argument's raw text, read again alone, is that argument.
    std::vector<std::wstring> again;
    for (size_t from = 0, bar; (bar = spans.find(L'|', from)) != std::wstring::npos; from = bar + 1) {
        std::vector<std::wstring> one = readArguments(spans.substr(from, bar - from));
        again.push_back(one.empty() ? L"" : one[0]);
    }
    EXPECT_EQ(again.size(), expected.size());
}

TEST(ArgumentReader, AgreesWithTheSplitterOnAwkwardAndRandomLines)
{
    for (const std::wstring& line : splitter_model::awkwardCommandLines())
        expectSplitterArguments(line);
    std::printf("random command lines, seed %u\n", (unsigned)splitter_model::RANDOM_SEED);
    std::mt19937 random(splitter_model::RANDOM_SEED);
    for (uint32_t i = 0; i < splitter_model::RANDOM_LINES && !HasFailure(); i++)
        expectSplitterArguments(L"x " + splitter_model::randomCommandLine(random));
}

TEST(ArgumentReader, LongValuesAreCutAndMarked)
{
    std::wstring rest = L" " + std::wstring(70, L'a') + L" b";
    uint32_t position = 0, start = 0;
    wchar_t value[64];
    bool cut = false;
    ASSERT_TRUE(nextArgument(rest.c_str(), &position, &start, value, 64, &cut));
    EXPECT_TRUE(cut);
    EXPECT_EQ(std::wstring(value), std::wstring(63, L'a'));
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(position, 71u);
    ASSERT_TRUE(nextArgument(rest.c_str(), &position, &start, value, 64, &cut));
    EXPECT_FALSE(cut);
    EXPECT_STREQ(value, L"b");
}

TEST(RunSwitches, Table)
{
    struct Case {
        const wchar_t* arguments;
        bool silent, help;
        OverwriteSwitch overwrite;
        const wchar_t* log;
        const wchar_t* password;
        const wchar_t* left; // the text after the switches are blanked out
    } cases[] = {
        {L"", false, false, OVERWRITE_AS_BUILT, L"", L"", L""},
        {L" /S", true, false, OVERWRITE_AS_BUILT, L"", L"", L"   "},
        {L" -silent /auto C:\\x", true, false, OVERWRITE_AS_BUILT, L"", L"", L"         /auto C:\\x"},
        {L" /Silent", true, false, OVERWRITE_AS_BUILT, L"", L"", L"        "},
        {L" /SILENTLY /SS S", false, false, OVERWRITE_AS_BUILT, L"", L"", L" /SILENTLY /SS S"},
        {L" /overwrite /NOOVERWRITE", false, false, OVERWRITE_NEVER, L"", L"", L"                        "},
        {L" -NoOverwrite -overwrite", false, false, OVERWRITE_ALWAYS, L"", L"", L"                        "},
        {L" /?", false, true, OVERWRITE_AS_BUILT, L"", L"", L"   "},
        {L" -?", false, true, OVERWRITE_AS_BUILT, L"", L"", L"   "},
        {L" /h", false, true, OVERWRITE_AS_BUILT, L"", L"", L"   "},
        {L" --help", false, true, OVERWRITE_AS_BUILT, L"", L"", L"       "},
        {L" /help", false, true, OVERWRITE_AS_BUILT, L"", L"", L"      "},
        {L" /hh ?", false, false, OVERWRITE_AS_BUILT, L"", L"", L" /hh ?"},
        {L" /LOG=C:\\a.log /AUTO", false, false, OVERWRITE_AS_BUILT, L"C:\\a.log", L"", L"               /AUTO"},
        // Quotes around the whole switch or around its value alike.
        {L" \"/log=C:\\my logs\\a.log\" x", false, false, OVERWRITE_AS_BUILT, L"C:\\my logs\\a.log", L"", L"                         x"},
        {L" /LOG=\"C:\\my logs\\a.log\"", false, false, OVERWRITE_AS_BUILT, L"C:\\my logs\\a.log", L"", L"                        "},
        {L" /PASSWORD-FILE=pw.txt -info", false, false, OVERWRITE_AS_BUILT, L"", L"pw.txt", L"                       -info"},
        {L" /LOGFILE=x /PASSWORD=x", false, false, OVERWRITE_AS_BUILT, L"", L"", L" /LOGFILE=x /PASSWORD=x"},
        // Only whole arguments count: a folder holding a switch's letters is no switch.
        {L" /AUTO C:\\S /S", true, false, OVERWRITE_AS_BUILT, L"", L"", L" /AUTO C:\\S   "},
        {L" \"C:\\a /S b\"", false, false, OVERWRITE_AS_BUILT, L"", L"", L" \"C:\\a /S b\""},
    };
    for (const Case& c : cases) {
        std::wstring text = c.arguments;
        RunSwitches switches;
        readRunSwitches(&text[0], &switches);
        std::string shown(text.begin(), text.end());
        EXPECT_EQ(switches.silent, c.silent) << shown;
        EXPECT_EQ(switches.help, c.help) << shown;
        EXPECT_EQ(switches.overwrite, c.overwrite) << shown;
        EXPECT_STREQ(switches.logPath, c.log) << shown;
        EXPECT_STREQ(switches.passwordPath, c.password) << shown;
        EXPECT_FALSE(switches.logPathCut || switches.passwordPathCut) << shown;
        EXPECT_EQ(text, std::wstring(c.left)) << shown;
    }
}

TEST(RunSwitches, PathsLongerThanAPathAreMarked)
{
    std::wstring text = L" /LOG=C:\\" + std::wstring(258, L'x') + L" /PASSWORD-FILE=C:\\" + std::wstring(257, L'y');
    RunSwitches switches;
    readRunSwitches(&text[0], &switches);
    EXPECT_TRUE(switches.logPathCut);
    EXPECT_FALSE(switches.passwordPathCut);
    EXPECT_EQ(std::wstring(switches.passwordPath), L"C:\\" + std::wstring(257, L'y')); // 260 characters fit
}

TEST(RunSwitches, SilentFolderIsTheFirstArgumentThatIsNoSwitch)
{
    struct Case {
        const wchar_t* arguments;
        const wchar_t* folder; // null: none
    } cases[] = {
        {L"", nullptr},
        {L"   /AUTO -x", nullptr},
        {L"   C:\\Out", L"C:\\Out"},
        {L"   /AUTO \"C:\\Met Spatie\" D:\\", L"C:\\Met Spatie"},
        {L" -parent=5 /x my-folder", L"my-folder"},
    };
    for (const Case& c : cases) {
        wchar_t folder[SWITCH_PATH_UNITS] = L"unchanged";
        bool found = silentFolderArgument(c.arguments, folder, SWITCH_PATH_UNITS);
        int i = (int)(&c - cases);
        EXPECT_EQ(found, c.folder != nullptr) << "case " << i;
        EXPECT_STREQ(folder, c.folder ? c.folder : L"unchanged") << "case " << i;
    }
}

TEST(Relaunch, ProgramNameEnd)
{
    struct Case {
        const wchar_t* line;
        uint32_t end;
    } cases[] = {
        {L"", 0},
        {L"setup.exe", 9},
        {L"setup.exe /a", 9},
        {L"setup.exe\t/a", 9},
        {L"\"C:\\Dir Name\\s.exe\" /a", 19},
        {L"\"C:\\s.exe\"/auto", 10},        // glued to the first argument
        {L"\"C:\\no end", 10},             // no closing quote: the whole line
        {L"\"C:\\x\\\" y", 7},              // a backslash escapes nothing in the name
        {L"\"\"x y", 2},
        {L" x", 0},
        {L"a\"b c", 3},                    // a quote inside a bare name is just a character
    };
    for (const Case& c : cases)
        EXPECT_EQ(programNameEnd(c.line), c.end) << testing::PrintToString(std::wstring(c.line));
}

TEST(Relaunch, ArgumentTail)
{
    struct Case {
        const wchar_t* text;
        bool inside;
        uint32_t backslashes;
    } cases[] = {
        {L"", false, 0},
        {L" a b", false, 0},
        {L" \"a b", true, 0},
        {L" \"a b\"", false, 0},
        {L" /AUTO \"C:\\Uit\\\"", true, 0},    // \" is a literal quote: the quote stays open
        {L" /AUTO \"C:\\Uit\\\\\"", false, 0}, // \\" is a backslash and a closing quote
        {L" \"C:\\a b\\\\", true, 2},
        {L" C:\\Uit\\", false, 1},
        {L" \\\\\\", false, 3},
        {L" \"x\" \\", false, 1},
        {L" \\\"x", false, 0},                // escaped quote opens nothing
        {L" \\\"\"x", true, 0},               // a quote right after an escaped one opens
        {L" a\"\"", false, 0},                // outside: "" adds nothing
        {L" a\"\"\"", false, 0},              // outside: """ is a literal quote
        {L" a\"\"\"\"", true, 0},
        {L" \"a\"\"", false, 0},              // inside: "" is a literal quote and closes
        {L" \"a\"\"\"", true, 0},
        {L" \"a\tb \\\\", true, 2},
    };
    for (const Case& c : cases) {
        ArgumentTail tail = argumentTail(c.text);
        EXPECT_EQ(tail.insideQuote, c.inside) << testing::PrintToString(std::wstring(c.text));
        EXPECT_EQ(tail.trailingBackslashes, c.backslashes) << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(Relaunch, CopyCommandLine)
{
    struct Case {
        const wchar_t* line;
        const wchar_t* rest; // what comes before the markers in the copy's line
    } cases[] = {
        {L"\"C:\\Dir Name\\setup.exe\" /auto", L" /auto"},
        {L"setup.exe", L""},
        {L"\"setup.exe\"", L""},
        {L"", L""},
        {L"setup.exe a  b  ", L" a  b  "},                        // kept as it came
        {L"\"C:\\s.exe\"/auto", L" /auto"},                        // a blank parts it from the empty name
        {L"setup.exe\t/a", L"\t/a"},
        {L"setup.exe /AUTO \"C:\\Uit\\\"", L" /AUTO \"C:\\Uit\\\"\""}, // the open quote is closed
        {L"setup.exe \"C:\\a b\\\\", L" \"C:\\a b\\\\\\\\\""},         // backslashes doubled before it
        {L"setup.exe C:\\Uit\\", L" C:\\Uit\\"},                      // outside quotes a blank follows
    };
    for (const Case& c : cases) {
        std::wstring expected = c.rest + std::wstring(RELAUNCH_MARKERS) + STARTED + L"\"";
        EXPECT_EQ(copyLineFor(c.line), expected);
        EXPECT_GE(copyCommandLineUnits(c.line, STARTED), expected.size() + 1);
    }
}

// The copy's arguments are an empty program name, the user's arguments unchanged in meaning and the two
// markers; the copy finds where the user's part ends.
void expectCopyLineKeepsTheArguments(const std::wstring& commandLine)
{
    std::wstring copy = copyLineFor(commandLine);
    std::vector<std::wstring> expected = splitter_model::split(commandLine);
    expected[0] = L"";
    expected.push_back(L"-run=1");
    expected.push_back(std::wstring(L"-shortcut=") + STARTED);
    std::string shown = testing::PrintToString(commandLine) + " -> " + testing::PrintToString(copy);
    EXPECT_EQ(splitter_model::split(copy), expected) << shown;
    uint32_t start = 99, end = 99;
    userArgumentRange(copy.c_str(), &start, &end);
    EXPECT_EQ(start, 0u) << shown;
    ASSERT_LE(end, copy.size()) << shown;
    EXPECT_EQ(copy.substr(end), std::wstring(RELAUNCH_MARKERS) + STARTED + L"\"") << shown;
}

TEST(Relaunch, CopyLineKeepsTheArgumentsOfAwkwardLines)
{
    for (const std::wstring& line : splitter_model::awkwardCommandLines())
        expectCopyLineKeepsTheArguments(line);
}

TEST(Relaunch, CopyLineKeepsTheArgumentsOfRandomLines)
{
    std::printf("random command lines, seed %u\n", (unsigned)splitter_model::RANDOM_SEED);
    std::mt19937 random(splitter_model::RANDOM_SEED);
    for (uint32_t i = 0; i < splitter_model::RANDOM_LINES && !HasFailure(); i++)
        expectCopyLineKeepsTheArguments(splitter_model::randomCommandLine(random));
}

TEST(Relaunch, UserArgumentRange)
{
    struct Case {
        const wchar_t* line;
        uint32_t start, end;
    } cases[] = {
        {L"", 0, 0},
        {L" -run=1 -shortcut=\"C:\\x.exe\"", 0, 0},
        {L" a -run=1 -shortcut=\"C:\\x.exe\"", 0, 2},
        {L"prog a -run=1 -shortcut=\"\"", 4, 6},                                  // an empty path
        {L" a -run=1 -shortcut=\"C:\\x\" -run=1 -shortcut=\"C:\\y\"", 0, 26},       // the last one
        {L"\"C:\\p q.exe\" -RUN=1 x", 12, 21},                                    // typed by hand
        {L" a -run=1 -shortcut=\"C:\\x\" b", 0, 28},                              // not at the end
        {L" a -run=1 -shortcut=\"C:\\x\"y\"", 0, 28},                             // a quote in the path
        {L" a -shortcut=\"C:\\x\"", 0, 19},                                       // no -run=1 before it
        {L" -run=1 -shortcut=\"C:\\x", 0, 23},                                    // no closing quote
        {L"\" -run=1 -shortcut=\"x\"", 20, 22},                                   // the name holds them
    };
    for (const Case& c : cases) {
        uint32_t start = 99, end = 99;
        userArgumentRange(c.line, &start, &end);
        EXPECT_EQ(start, c.start) << testing::PrintToString(std::wstring(c.line));
        EXPECT_EQ(end, c.end) << testing::PrintToString(std::wstring(c.line));
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

    // The appended argument comes last; one the user typed before it does not count.
    std::vector<std::wstring> args = {L"prog", L"-Shortcut=x", L"-shortcut=D:\\typed.exe", L"-shortcut=",
                                      L"-run=1", L"-shortcut=C:\\a b\\s.exe", L"-x"};
    std::vector<wchar_t*> ptrs;
    for (auto& a : args)
        ptrs.push_back(&a[0]);
    EXPECT_STREQ(findShortcutArgument(ptrs.data(), 7), L"C:\\a b\\s.exe");
    EXPECT_STREQ(findShortcutArgument(ptrs.data(), 4), L"");
    EXPECT_EQ(findShortcutArgument(ptrs.data(), 2), nullptr);
    EXPECT_EQ(findShortcutArgument(ptrs.data(), 0), nullptr);
}

} // namespace
