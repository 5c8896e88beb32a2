// Names that are one file or folder on Windows: letter case (beyond ASCII too), '/' and '\', a file and a
// folder of one name, and a name shaped like the short name the system may give a long name beside it.
// The tool refuses such pairs in ZIP input (builder_zip_input_test.cpp) and folder input
// (builder_folder_test.cpp); here the rule itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/build_error.h"
#include "builder/unicode_text.h"
#include "builder/windows_names.h"

namespace {

std::string shown(const std::vector<std::u16string>& names)
{
    std::string text;
    for (const std::u16string& n : names)
        text += (text.empty() ? "" : ", ") + quotedForMessage(utf16ToUtf8(n));
    return text;
}

} // namespace

TEST(WindowsNames, UpperCaseOfLettersOfEveryScriptWithCase)
{
    const struct {
        char16_t unit;
        char16_t upper;
    } cases[] = {
        {u'a', u'A'},     {u'z', u'Z'},       {u'A', u'A'},       {u'1', u'1'},       {u'_', u'_'},
        {u'\u00E9', u'\u00C9'}, // é
        {u'\u00FF', u'\u0178'}, // ÿ, whose capital lies in Latin Extended-A
        {u'\u00DF', u'\u00DF'}, // ß: its upper case is two letters
        {u'\u00F7', u'\u00F7'}, // ÷ is no letter
        {u'\u0107', u'\u0106'}, // ć (Latin Extended-A, every other unit)
        {u'\u017E', u'\u017D'}, // ž
        {u'\u01C6', u'\u01C4'}, // ǆ (Latin Extended-B)
        {u'\u0253', u'\u0181'}, // ɓ (IPA letter with a capital in Latin Extended-B)
        {u'\u03C3', u'\u03A3'}, // σ
        {u'\u03C2', u'\u03A3'}, // final ς
        {u'\u03AC', u'\u0386'}, // ά
        {u'\u044F', u'\u042F'}, // я
        {u'\u0450', u'\u0400'}, // ѐ
        {u'\u04CF', u'\u04C0'}, // ӏ
        {u'\u0561', u'\u0531'}, // Armenian ա
        {u'\u1E9B', u'\u1E60'}, // ẛ (Latin Extended Additional)
        {u'\u24D0', u'\u24B6'}, // circled ⓐ
        {u'\uFF41', u'\uFF21'}, // fullwidth ａ
        {u'\uFFFF', u'\uFFFF'},
    };
    for (const auto& c : cases)
        EXPECT_EQ((int)upcaseUnit(c.unit), (int)c.upper) << std::hex << "U+" << (int)c.unit;
}

TEST(WindowsNames, KeyComparesAsWindowsDoes)
{
    EXPECT_EQ(windowsNameKey(u"/bin\\Run.exe"), u"BIN/RUN.EXE");
    EXPECT_EQ(windowsNameKey(u"docs/sub/"), u"DOCS/SUB");
    EXPECT_EQ(windowsNameKey(u"a. /b .. /c"), u"A/B/C"); // trailing dots and blanks of each component
    EXPECT_EQ(windowsNameKey(u"\u0444\u0430\u0439\u043B.txt"), u"\u0424\u0410\u0419\u041B.TXT");
}

TEST(WindowsNames, ClashTable)
{
    using K = NameClashKind;
    const struct {
        std::vector<std::u16string> names;
        NameClashKind kind;
        size_t first, second;
    } cases[] = {
        {{u"a.txt", u"b.txt", u"sub/a.txt"}, K::None, 0, 0},
        {{u"a.txt", u"A.TXT"}, K::SameName, 0, 1},
        {{u"x", u"bin/run.exe", u"y", u"BIN\\RUN.EXE"}, K::SameName, 1, 3},
        {{u"/a.txt", u"a.txt"}, K::SameName, 0, 1},                   // the stub drops one leading separator
        {{u"caf\u00E9.txt", u"CAF\u00C9.TXT"}, K::SameName, 0, 1},    // Latin-1
        {{u"\u010D.txt", u"\u010C.txt"}, K::SameName, 0, 1},          // č, Č: Latin Extended-A
        {{u"\u03C3.txt", u"\u03A3.txt"}, K::SameName, 0, 1},          // Greek
        {{u"\u0444\u0430\u0439\u043B", u"\u0424\u0410\u0419\u041B"}, K::SameName, 0, 1}, // Cyrillic
        {{u"e\u0301.txt", u"\u00E9.txt"}, K::None, 0, 0},             // not normalised: two files
        {{u"\u00DF.txt", u"SS.txt"}, K::None, 0, 0},
        {{u"docs/", u"DOCS/", u"Docs/a.txt"}, K::None, 0, 0},          // one folder, given three times
        {{u"a", u"a/b"}, K::FileAndFolder, 0, 1},
        {{u"A/b", u"a"}, K::FileAndFolder, 0, 1},
        {{u"a", u"A/"}, K::FileAndFolder, 0, 1},
        {{u"a/", u"a"}, K::FileAndFolder, 0, 1},
        // Names that sort between a file and the names below it as a folder.
        {{u"a", u"a!b", u"a.txt", u"a-z", u"a/b/c"}, K::FileAndFolder, 0, 4},
        {{u"d/a", u"d/a.txt", u"d/A/x"}, K::FileAndFolder, 0, 2},
        // Short names beside the long names they could stand for.
        {{u"Setup-Program.exe", u"SETUP-~1.EXE"}, K::ShortName, 0, 1},
        {{u"setup-~1.exe", u"Setup-Program.exe"}, K::ShortName, 0, 1},
        {{u"bin/Setup-Program.exe", u"bin/SETUP~12.EXE"}, K::ShortName, 0, 1},
        {{u"Setup-Program.exe", u"SE3F2A~1.EXE"}, K::ShortName, 0, 1}, // the hashed form
        {{u"Program Files/a.txt", u"PROGRA~1/b.txt"}, K::ShortName, 0, 1},
        {{u"Long Name.html", u"LONGNA~1.HTM"}, K::ShortName, 0, 1},      // blank dropped, extension cut
        {{u"a+b long.txt", u"A_BLON~1.TXT"}, K::ShortName, 0, 1},
        {{u".htaccess", u"HTACCE~1"}, K::ShortName, 0, 1},
        {{u"my.setup.file.exe", u"MYSETU~1.EXE"}, K::ShortName, 0, 1},  // dots but the last dropped
        {{u"\u00DCber Setup.exe", u"_BERSE~1.EXE"}, K::ShortName, 0, 1},
        {{u"\u00DCber Setup.exe", u"\u00DCBERSE~1.EXE"}, K::ShortName, 0, 1},
        {{u"Setup-Program.exe", u"SETUP-~1.TXT"}, K::None, 0, 0},       // another extension
        {{u"Setup-Program.exe", u"SETUP-~1"}, K::None, 0, 0},
        {{u"Setup-Program", u"SETUP-~1.EXE"}, K::None, 0, 0},
        {{u"Setup-Program.exe", u"OTHER~1.EXE"}, K::None, 0, 0},
        {{u"a/Setup-Program.exe", u"b/SETUP-~1.EXE"}, K::None, 0, 0},   // another folder
        {{u"README.TXT", u"README~1.TXT"}, K::None, 0, 0},             // an 8.3 name gets no short name
        {{u"readme.txt", u"README~1.TXT"}, K::None, 0, 0},
        {{u"AB~1.TXT", u"AB~2.TXT"}, K::None, 0, 0},
        {{u"Setup-Program.exe", u"SETUP-~.EXE", u"SETUP-~X.EXE", u"SETUP-~1.EXEC", u"SETUP PR~1.EXE"}, K::None, 0, 0},
    };
    for (const auto& c : cases) {
        NameClash found = findNameClash(c.names);
        EXPECT_EQ((int)found.kind, (int)c.kind) << shown(c.names);
        if (c.kind != K::None) {
            EXPECT_EQ(found.first, c.first) << shown(c.names);
            EXPECT_EQ(found.second, c.second) << shown(c.names);
        }
    }
}

// 20,000 names deep in one folder, and 20,000 short names among 20,000 long ones in another: the check
// takes each name once (no comparison of every pair), and finds the one short name that clashes.
TEST(WindowsNames, ManyNamesAreCheckedInOnePass)
{
    std::vector<std::u16string> names;
    for (int i = 0; i < 20000; i++) {
        std::string n = std::to_string(i);
        names.push_back(u"deep/deep/deep/deep/file" + std::u16string(n.begin(), n.end()) + u".txt");
        names.push_back(u"flat/L" + std::u16string(n.begin(), n.end()) + u" long name.txt");
        names.push_back(u"flat/S~" + std::u16string(n.begin(), n.end()) + u".DOC");
    }
    EXPECT_EQ((int)findNameClash(names).kind, (int)NameClashKind::None);
    names.push_back(u"flat/L1234~77.TXT");
    NameClash found = findNameClash(names);
    EXPECT_EQ((int)found.kind, (int)NameClashKind::ShortName);
    EXPECT_EQ(utf16ToUtf8(names[found.second]), "flat/L1234~77.TXT");
}

TEST(WindowsNames, RefusalNamesBothEntriesOnOneLine)
{
    const struct {
        std::vector<std::string> names;
        const char* message;
    } cases[] = {
        {{"a.txt", "b/c", "A.TXT"}, "entries \"a.txt\" and \"A.TXT\" are one file on Windows"},
        {{"a", "A/b"}, "entries \"a\" and \"A/b\" need a file and a folder of one name on Windows"},
        {{"Setup-Program.exe", "SETUP-~1.EXE"},
         "entries \"Setup-Program.exe\" and \"SETUP-~1.EXE\" can be one file or folder on Windows"},
        {{"\xD1\x84\xE2\x80\xA8", "\xD0\xA4\xE2\x80\xA8"}, "entries \"\xD1\x84\\u2028\" and \"\xD0\xA4\\u2028\""}, // a line separator
    };
    for (const auto& c : cases) {
        std::string what;
        try {
            checkNamesAreDistinctOnWindows(c.names);
        } catch (const BuildError& e) {
            what = e.what();
        }
        EXPECT_NE(what.find(c.message), std::string::npos) << what;
        EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
    EXPECT_NO_THROW(checkNamesAreDistinctOnWindows({"a.txt", "b.txt", "sub/", "sub/a.txt"}));
}
