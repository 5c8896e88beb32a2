// Output path rules: joining names to the target folder, which names are refused, where folder creation
// starts, DOS time clamping and the meter position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "archive/path_rules.h"
#include "archive/volume_rules.h"

namespace {

TEST(OutputPath, JoinTable)
{
    struct Case {
        const wchar_t* folder; // as the caller passes it: empty or ending in a separator
        const wchar_t* name;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\Out\\", L"docs/readme.txt", L"C:\\Out\\docs\\readme.txt"},
        {L"C:\\Out\\", L"/lead.txt", L"C:\\Out\\lead.txt"},       // one leading separator is dropped
        {L"", L"docs/a.txt", L"docs\\a.txt"},                     // empty target: relative to the current folder
        {L"\\\\server\\share\\dir\\", L"a/b", L"\\\\server\\share\\dir\\a\\b"},
        {L"D:", L"x.txt", L"D:x.txt"},
        {L".\\sub\\", L"x.txt", L".\\sub\\x.txt"},
        {L"C:/Mixed/", L"a/b/", L"C:\\Mixed\\a\\b\\"},
    };
    for (const Case& c : cases) {
        wchar_t out[OUTPUT_PATH_MAX + 1];
        ASSERT_TRUE(joinOutputPath(c.folder, c.name, out));
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(OutputPath, LengthLimit)
{
    std::wstring folder = L"C:\\" + std::wstring(100, L'f') + L"\\";
    wchar_t out[OUTPUT_PATH_MAX + 1];
    std::wstring fits(OUTPUT_PATH_MAX - 1 - folder.size(), L'n');
    EXPECT_TRUE(joinOutputPath(folder.c_str(), fits.c_str(), out));
    EXPECT_EQ(wcslen(out), OUTPUT_PATH_MAX - 1);
    std::wstring tooLong = fits + L"n";
    EXPECT_FALSE(joinOutputPath(folder.c_str(), tooLong.c_str(), out));
}

TEST(TargetFolder, RelativeFoldersResolveAgainstTheStartedFilesFolder)
{
    struct Case {
        const wchar_t* folder;
        const wchar_t* base;     // the started file's folder
        const wchar_t* expected; // null: not relative, left alone
    } cases[] = {
        {L"out", L"C:\\Setup", L"C:\\Setup\\out"},
        {L"sub\\map\\", L"C:\\Setup", L"C:\\Setup\\sub\\map\\"},
        {L".", L"C:\\Setup", L"C:\\Setup"},
        {L".\\", L"C:\\Setup", L"C:\\Setup"},
        {L".\\x", L"C:\\Setup", L"C:\\Setup\\x"},
        {L"./.\\x", L"C:\\Setup", L"C:\\Setup\\x"},
        {L"..\\naast", L"C:\\Setup", L"C:\\Setup\\..\\naast"},
        {L".hidden", L"C:\\Setup", L"C:\\Setup\\.hidden"},
        {L"out", L"C:\\", L"C:\\out"},                      // a file in the drive's root
        {L"out", L"\\\\server\\share", L"\\\\server\\share\\out"},
        {L"C:\\Uit", L"C:\\Setup", nullptr},
        {L"c:relative", L"C:\\Setup", nullptr},             // names a drive
        {L"\\Uit", L"C:\\Setup", nullptr},
        {L"/Uit", L"C:\\Setup", nullptr},
        {L"\\\\server\\share", L"C:\\Setup", nullptr},
        {L"", L"C:\\Setup", nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isRelativeFolder(c.folder), c.expected != nullptr) << c.folder;
        if (!c.expected)
            continue;
        wchar_t out[WORK_PATH_UNITS];
        ASSERT_TRUE(resolveRelativeFolder(c.base, c.folder, out, WORK_PATH_UNITS));
        EXPECT_STREQ(out, c.expected);
    }
}

// The variables the expansion tests see.
static bool testVariables(const wchar_t* name, wchar_t* value, uint32_t capacity)
{
    static const struct {
        const wchar_t* name;
        const wchar_t* value;
    } known[] = {
        {L"ProgramFiles", L"C:\\Program Files"},
        {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
        {L"EMPTY", L""},
        {L"LONG", L"C:\\0123456789012345678901234567890123456789"},
    };
    for (const auto& k : known)
        if (std::wstring(k.name) == name) {
            if (std::wcslen(k.value) >= capacity)
                return false;
            std::wcscpy(value, k.value);
            return true;
        }
    return false;
}

TEST(TargetFolder, EnvironmentVariablesAreExpanded)
{
    struct Case {
        const wchar_t* folder;
        ExpandResult result;
        const wchar_t* expected; // the folder, or the unknown variable's name
    } cases[] = {
        {L"%ProgramFiles%\\MyApp", EXPAND_DONE, L"C:\\Program Files\\MyApp"},
        {L"%ProgramFiles(x86)%\\A %EMPTY%B", EXPAND_DONE, L"C:\\Program Files (x86)\\A B"},
        {L"C:\\100%", EXPAND_DONE, L"C:\\100%"},                  // a '%' without a partner stays
        {L"C:\\50% off\\x%", EXPAND_DONE, L"C:\\50% off\\x%"},    // a separator ends no name
        {L"C:\\a%%b", EXPAND_DONE, L"C:\\a%b"},                   // "%%" is one '%'
        {L"C:\\a%%ProgramFiles%%", EXPAND_DONE, L"C:\\a%ProgramFiles%"},
        {L"%programfiles%", EXPAND_UNKNOWN, L"programfiles"},     // the lookup decides on letter case
        {L"%LOCALAPPDATA%\\MyApp", EXPAND_UNKNOWN, L"LOCALAPPDATA"},
        {L"C:\\%ProgramFiles%%NOPE%", EXPAND_UNKNOWN, L"NOPE"},
        {L"", EXPAND_DONE, L""},
    };
    for (const Case& c : cases) {
        wchar_t out[64], unknown[16] = L"";
        ExpandResult result = expandFolderVariables(c.folder, testVariables, out, 64, unknown, 16);
        EXPECT_EQ(result, c.result) << c.folder;
        EXPECT_STREQ(result == EXPAND_DONE ? out : unknown, c.expected) << c.folder;
    }
    // The value takes 43 units: with the terminator it fits 44, not 43.
    wchar_t out[44], unknown[16];
    EXPECT_EQ(expandFolderVariables(L"%LONG%", testVariables, out, 44, unknown, 16), EXPAND_DONE);
    EXPECT_EQ(expandFolderVariables(L"%LONG%", testVariables, out, 43, unknown, 16), EXPAND_TOO_LONG);
    EXPECT_EQ(expandFolderVariables(L"%LONG%\\x", testVariables, out, 44, unknown, 16), EXPAND_TOO_LONG);
}

TEST(TargetFolder, ResolvedFolderMustFit)
{
    std::wstring base = L"C:\\" + std::wstring(250, L'b');
    wchar_t folder[261] = L"uit";
    EXPECT_TRUE(resolveRelativeFolder(base.c_str(), folder, folder, 261)) << "254 + 4 characters fit";
    EXPECT_EQ(std::wstring(folder), base + L"\\uit");
    wcscpy(folder, L"uitpakken");
    EXPECT_FALSE(resolveRelativeFolder(base.c_str(), folder, folder, 261));
    EXPECT_STREQ(folder, L"uitpakken") << "left unchanged";
}

TEST(EntryNames, HostileNamesAreRefused)
{
    struct Case {
        const wchar_t* name;
        bool safe;
    } cases[] = {
        {L"readme.txt", true},
        {L"docs/readme.txt", true},
        {L"docs\\", true},
        {L"docs/sub/", true},
        {L"/rooted.txt", true},     // one leading separator is dropped
        {L".hidden", true},
        {L"a.b.c", true},
        {L"caf\u00e9.txt", true},
        {L"CONFIG.SYS", true},
        {L"COM10", true},
        {L"", false},
        {L"/", false},
        {L"../evil.txt", false},
        {L"a/../../evil.txt", false},
        {L"a\\..\\b", false},
        {L"..", false},
        {L"...", false},
        {L". /x", false},
        {L"./x", false},
        {L"C:evil.txt", false},
        {L"C:\\Windows\\evil.txt", false},
        {L"//server/share/x", false},
        {L"\\\\server\\share", false},
        {L"a//b", false},
        {L"file.txt:stream", false},
        {L"trailing.", false},
        {L"trailing ", false},
        {L"dir./x", false},
        {L"CON", false},
        {L"con.txt", false},
        {L"docs/Nul", false},
        {L"aux.tar.gz", false},
        {L"COM1", false},
        {L"lpt9.log", false},
        {L"CONOUT$", false},
        {L"a*b", false},
        {L"what?", false},
        {L"tab\there", false},
        {L"pipe|x", false},
        {L"\uFFFD", false},        // what a malformed UTF-8 byte becomes: the name cannot be what was meant
        {L"a\uFFFDb.txt", false},
        {L"CON .txt", false},       // Windows drops blanks before the extension of a device name
        {L"NUL  .txt", false},
        {L"COM1 .txt", false},
        {L"LPT1 .x", false},
        {L"CONOUT$ .x", false},
        {L"COM\u00B9", false},      // superscript digits count as digits
        {L"LPT\u00B2.txt", false},
        {L"com\u00B3", false},
        {L"COM\u2074", true},       // superscript four does not
        {L"lpt0.log", false},
        {L"CONSOLE .txt", true},
        {L" CON.txt", true},        // only trailing blanks of the base name are dropped
    };
    for (const Case& c : cases)
        EXPECT_EQ(entryNameIsSafe(c.name), c.safe) << "case " << (&c - cases);
}

TEST(OutputPath, FolderScanStart)
{
    struct Case {
        const wchar_t* path;
        uint32_t start;
    } cases[] = {
        {L"C:\\Out\\a.txt", 0},
        {L"\\Out\\a.txt", 1},
        {L"\\\\server\\share\\dir\\a.txt", 15}, // past "\\server\share\"
        {L"\\\\server\\share", 14},
        {L"docs\\a.txt", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(folderScanStart(c.path), c.start) << "case " << (&c - cases);
}

TEST(OutputPath, FileNamePartAndSeparator)
{
    EXPECT_STREQ(fileNamePart(L"C:\\Out\\docs\\a.txt"), L"a.txt");
    EXPECT_STREQ(fileNamePart(L"docs/"), L"");
    EXPECT_STREQ(fileNamePart(L"\\a.txt"), L"\\a.txt") << "a separator at index 0 does not count";
    EXPECT_STREQ(fileNamePart(L"plain"), L"plain");
    wchar_t path[8] = L"C:\\Out";
    EXPECT_TRUE(appendSeparator(path, 8));
    EXPECT_STREQ(path, L"C:\\Out\\");
    EXPECT_TRUE(appendSeparator(path, 8));
    EXPECT_STREQ(path, L"C:\\Out\\");
    wchar_t empty[2] = L"";
    EXPECT_TRUE(appendSeparator(empty, 2));
    EXPECT_STREQ(empty, L"\\");
}

uint16_t dosDate(int year, int month, int day) { return (uint16_t)(((year - 1980) << 9) | (month << 5) | day); }
uint16_t dosTime(int hour, int minute, int twoSeconds) { return (uint16_t)((hour << 11) | (minute << 5) | twoSeconds); }

// Folders a run made or found are not looked up again: only a start that ends at a separator in both paths
// is known, so a sibling whose name begins like the known folder's is still made.
TEST(OutputPath, KnownFolderPrefix)
{
    struct Case {
        const wchar_t* path; // the output path; its folders end at its last separator
        const wchar_t* known;
        uint32_t expected;
    } cases[] = {
        {L"C:\\t\\sub\\a.txt", L"C:\\t\\sub\\", 9},          // the same folder: all of it
        {L"C:\\t\\sub\\deep\\a.txt", L"C:\\t\\sub\\", 9},    // below it: the rest is made
        {L"C:\\t\\a.txt", L"C:\\t\\sub\\deep\\", 5},         // above it: known already
        {L"C:\\t\\subx\\a.txt", L"C:\\t\\sub\\", 5},         // a sibling that begins alike
        {L"C:\\t\\su\\a.txt", L"C:\\t\\sub\\", 5},
        {L"C:\\t\\Sub\\a.txt", L"C:\\t\\sub\\", 5},          // another case: looked up again
        {L"D:\\t\\sub\\a.txt", L"C:\\t\\sub\\", 0},
        {L"C:\\t\\sub\\a.txt", L"", 0},                      // nothing known yet
        {L"C:\\t\\sub\\", L"C:\\t\\sub\\", 9},               // a folder entry
    };
    for (const Case& c : cases) {
        std::wstring path = c.path;
        uint32_t limit = (uint32_t)(path.rfind(L'\\') + 1);
        std::wstring known = c.known;
        EXPECT_EQ(knownFolderPrefix(path.c_str(), limit, known.c_str(), (uint32_t)known.size()), c.expected)
            << std::string(path.begin(), path.end()) << " with " << std::string(known.begin(), known.end());
    }
}

// The temporary twin of a file that an entry replaces: same folder, a name no entry is made under, never
// a path the system would refuse where it takes the file's own.
TEST(OutputPath, TemporaryPathBeside)
{
    const std::wstring deep = L"C:\\" + std::wstring(226, L'd') + L"\\"; // a folder of 230 characters
    struct Case {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"C:\\Out\\a.txt", L"C:\\Out\\.aksfx1234abcd0007.tmp"},
        {L"a.txt", L".aksfx1234abcd0007.tmp"},                 // relative to the current folder
        {L"\\a.txt", L"\\.aksfx1234abcd0007.tmp"},           // the root of the current drive
        {L"C:/Mixed/b", L"C:/Mixed/.aksfx1234abcd0007.tmp"},
        {deep + L"abc", deep + L".4abcd0007"},                      // up to 240 characters in all...
        {deep + std::wstring(14, L'n'), deep + L".1234abcd0007"},   // ...or the file name's length,
        {deep + std::wstring(30, L'n'), deep + L".aksfx1234abcd0007.tmp"}, // whichever is more
        {deep + std::wstring(26, L'e') + L"\\abc", deep + std::wstring(26, L'e') + L"\\.07"}, // 260 in all
        {deep + std::wstring(28, L'e') + L"\\a", deep + std::wstring(28, L'e') + L"\\7"},     // one character
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(&c - cases));
        ASSERT_LE(c.path.size(), OUTPUT_PATH_MAX);
        wchar_t out[OUTPUT_PATH_MAX + 1];
        temporaryPathBeside(c.path.c_str(), 0x1234ABCD, 0x10007, out);
        EXPECT_EQ(std::wstring(out), c.expected);
        EXPECT_LE(wcslen(out), std::max<size_t>(c.path.size(), TEMPORARY_PATH_SHORT));
    }
}

TEST(DosTime, FieldsAreClamped)
{
    struct Case {
        uint16_t date, time, expectedDate, expectedTime;
    } cases[] = {
        {dosDate(2024, 3, 7), dosTime(9, 5, 10), dosDate(2024, 3, 7), dosTime(9, 5, 10)},
        {dosDate(2024, 0, 0), dosTime(0, 0, 0), dosDate(2024, 1, 1), dosTime(0, 0, 0)},
        {dosDate(2024, 15, 31), dosTime(31, 63, 31), dosDate(2024, 12, 31), dosTime(23, 59, 29)},
        {dosDate(2107, 12, 31), dosTime(23, 59, 30), dosDate(2107, 12, 31), dosTime(23, 59, 29)},
        {0, 0, dosDate(1980, 1, 1), 0},
    };
    for (const Case& c : cases) {
        uint16_t date = c.date, time = c.time;
        clampDosDateTime(&date, &time);
        EXPECT_EQ(date, c.expectedDate) << "case " << (&c - cases);
        EXPECT_EQ(time, c.expectedTime) << "case " << (&c - cases);
    }
}

TEST(Meter, PositionRule)
{
    struct Case {
        uint32_t done, total, position;
    } cases[] = {
        {0, 1000, 0},
        {500, 1000, 50},
        {1000, 1000, 100},
        {2000, 1000, 200},          // more data than announced: passes 100
        {50, 99, 50},               // below 100 bytes: multiply first
        {0xFFFFFFFFu, 50, 0xFFFFFFFFu / 50 * 100 + (0xFFFFFFFFu % 50) * 100 / 50}, // no overflow
        {123, 0, 100},              // nothing announced: no division by zero
        {65536, 199, 65536 / 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(meterPosition(c.done, c.total), c.position) << "case " << (&c - cases);
}

TEST(Volumes, LabelTable)
{
    struct Case {
        const wchar_t* label;
        uint16_t disk;
    } cases[] = {
        {L"PKBACK# 001", 1},
        {L"PKBACK# 003", 3},
        {L"PKBACK#.3", 3},
        {L"PKBACK# 65537", 1},
        {L"PKBACK# x12", 12},
        {L"PKBACK#3", NOT_A_SET_LABEL},
        {L"pkback# 003", NOT_A_SET_LABEL},
        {L"PKBACK# ", NOT_A_SET_LABEL},
        {L"PKBACK", NOT_A_SET_LABEL},
        {L"", NOT_A_SET_LABEL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseVolumeLabel(c.label), c.disk) << "case " << (&c - cases);
}

TEST(Volumes, FileNames)
{
    struct Case {
        const wchar_t* setPath;
        bool exe;
        const wchar_t* expected;
    } cases[] = {
        {L"D:\\SETUP.EXE", false, L"D:\\SETUP.ZIP"},
        {L"D:\\SETUP.EXE", true, L"D:\\SETUP.EXE"},
        {L"D:\\setup.v2.exe", false, L"D:\\setup.v2.ZIP"},
        {L"D:\\dir.d\\setup", false, L"D:\\dir.d\\setup.ZIP"}, // no full stop in the name: appended
    };
    for (const Case& c : cases) {
        wchar_t out[261];
        ASSERT_TRUE(volumeFileName(c.setPath, c.exe, out, 261));
        EXPECT_STREQ(out, c.expected);
    }
    wchar_t small[12];
    EXPECT_FALSE(volumeFileName(L"D:\\SETUP.EXE", false, small, 12));
}

} // namespace
