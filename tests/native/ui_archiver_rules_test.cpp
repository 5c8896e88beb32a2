// Rules for starting the archiver: the open command's cut, the packaged archiver's names, the RunExe
// request with its bound, and the .zip name of a spanned set.
#include <gtest/gtest.h>

#include <string>

#include "launch/archiver_rules.h"
#include "startup/payload_format.h"

namespace {

TEST(ArchiverRules, OpenCommandIsCutBeforeTheQuotedArgument)
{
    struct Case {
        const wchar_t* value;
        const wchar_t* command;
    } cases[] = {
        {L"\"C:\\Program Files\\Arklet\\arklet.exe\" \"%1\"", L"\"C:\\Program Files\\Arklet\\arklet.exe\""},
        {L"\"C:\\A\\arklet.exe\" /open \"%1\" \"%2\"", L"\"C:\\A\\arklet.exe\" /open"},
        {L"C:\\A\\arklet.exe %1", L"C:\\A\\arklet.exe %1"},          // no quote: kept whole
        {L"C:\\A\\arklet.exe \"%2\"", L"C:\\A\\arklet.exe \"%2\""},  // another placeholder: kept whole
        {L"x \"%1 \"%1", L"x"},                                     // the first occurrence
        {L" \"%1", L""},
        {L"", L""},
        {L"a \"%", L"a \"%"},                                       // a sequence cut short by the end
    };
    for (const Case& c : cases) {
        std::wstring value = c.value;
        cutOpenCommand(&value[0]);
        EXPECT_STREQ(value.c_str(), c.command) << "value of length " << wcslen(c.value);
    }
}

TEST(ArchiverRules, PackagedNames)
{
    struct Case {
        const wchar_t* name;
        bool progId;
    } progIds[] = {
        {L"AppX", false}, {L"appx", false}, {L"AppX1", true}, {L"aPPxkz7q3", true},
        {L"App", false}, {L"ApX12", false}, {L"", false}, {L"Arklet.Zip", false},
    };
    for (const Case& c : progIds)
        EXPECT_EQ(isPackagedProgId(c.name), c.progId) << (int)wcslen(c.name);

    struct ModelCase {
        const wchar_t* id;
        bool ours;
    } models[] = {
        {L"ArkletComputing.Arklet_8wekyb3d8bbwe!App", true},
        {L"arkletcomputing.x", true},
        {L"ArkletComputing.", true},
        {L"ArkletComputing", false},
        {L"ArkletComputingX.y", false},
        {L"Other.ArkletComputing.", false},
        {L"", false},
    };
    for (const ModelCase& c : models)
        EXPECT_EQ(isArkletModelId(c.id), c.ours) << (int)wcslen(c.id);
}

const std::wstring kDelimiter = L"{6A41C9E2-57B3-4D08-9F1E-2C8B0D7A3E55}";

TEST(ArchiverRules, RunExeRequest)
{
    wchar_t out[ARCHIVER_PARAMETER_UNITS];
    ASSERT_TRUE(formatRunExeRequest(out, ARCHIVER_PARAMETER_UNITS, L"Arklet\\arklet.exe", L"D:\\Set\\a b.exe"));
    EXPECT_EQ(std::wstring(out),
              L"RunExe" + kDelimiter + L"Arklet\\arklet.exe" + kDelimiter + L"\"D:\\Set\\a b.exe\"");
}

TEST(ArchiverRules, RunExeRequestKeepsItsBound)
{
    // "RunExe" 6, two delimiters 76, two quotes 2: 84 units around the two texts, 1 for the terminator.
    std::wstring executable(200, L'e');
    std::wstring fits(ARCHIVER_PARAMETER_UNITS - 1 - 84 - 200, L'p');
    std::wstring tooLong = fits + L"p";
    std::wstring out(ARCHIVER_PARAMETER_UNITS + 8, L'#');
    ASSERT_TRUE(formatRunExeRequest(&out[0], ARCHIVER_PARAMETER_UNITS, executable.c_str(), fits.c_str()));
    EXPECT_EQ(wcslen(out.c_str()), ARCHIVER_PARAMETER_UNITS - 1u);
    EXPECT_FALSE(formatRunExeRequest(&out[0], ARCHIVER_PARAMETER_UNITS, executable.c_str(), tooLong.c_str()));
    EXPECT_EQ(out[0], L'\0') << "a request that does not fit is not handed over cut short";
    EXPECT_EQ(out.substr(ARCHIVER_PARAMETER_UNITS), std::wstring(8, L'#')) << "nothing written past the bound";
    // The longest archive path and executable the registry and the system give do not fit the bound.
    std::wstring path(260, L'p'), longExecutable(259, L'e');
    EXPECT_FALSE(formatRunExeRequest(&out[0], ARCHIVER_PARAMETER_UNITS, longExecutable.c_str(), path.c_str()));
}

TEST(ArchiverRules, QuotedPathAndZipVolumes)
{
    wchar_t out[261];
    ASSERT_TRUE(quoteArchivePath(out, 261, L"D:\\Set\\Backup.exe"));
    EXPECT_STREQ(out, L"\"D:\\Set\\Backup.exe\"");
    std::wstring longest(259, L'x');
    EXPECT_FALSE(quoteArchivePath(out, 261, longest.c_str())) << "259 characters and two quotes need 262";

    struct Case {
        uint32_t flags;
        const wchar_t* before;
        const wchar_t* after;
    } cases[] = {
        {SFXF_SPANNED, L"\"D:\\Set\\Backup.exe\"", L"\"D:\\Set\\Backup.zip\""},
        {SFXF_SPANNED | SFXF_EXE_VOLUMES, L"\"D:\\Set\\Backup.exe\"", L"\"D:\\Set\\Backup.exe\""},
        {0, L"\"D:\\Set\\Backup.exe\"", L"\"D:\\Set\\Backup.exe\""},
        {SFXF_EXE_VOLUMES, L"\"D:\\Set\\Backup.exe\"", L"\"D:\\Set\\Backup.exe\""},
        // Whatever the name ends in, the three characters before the closing quote are replaced.
        {SFXF_SPANNED, L"\"D:\\Set\\Backup\"", L"\"D:\\Set\\Baczip\""},
        {SFXF_SPANNED, L"\"a\"", L"\"a\""},   // too short to hold a name and an extension
    };
    for (const Case& c : cases) {
        std::wstring p = c.before;
        renameForZipVolumes(&p[0], c.flags);
        EXPECT_STREQ(p.c_str(), c.after) << std::hex << c.flags;
    }
    std::wstring request = L"RunExe" + kDelimiter + L"a.exe" + kDelimiter + L"\"E:\\Backup.EXE\"";
    renameForZipVolumes(&request[0], SFXF_SPANNED);
    EXPECT_EQ(request.substr(request.size() - 15), L"\"E:\\Backup.zip\"") << "the request ends the same way";
}

TEST(ArchiverRules, OnlyAnAbsoluteHelperPathIsTaken)
{
    struct Case {
        const wchar_t* value;
        bool taken;
        const wchar_t* path; // as left in place
    } cases[] = {
        {L"C:\\Program Files\\Arklet\\ArkletUWPHelper.exe", true, L"C:\\Program Files\\Arklet\\ArkletUWPHelper.exe"},
        {L"\"d:\\A b\\h.exe\"", true, L"d:\\A b\\h.exe"}, // quoted: the quotes go
        {L"\\\\server\\share\\h.exe", true, L"\\\\server\\share\\h.exe"},
        {L"ArkletUWPHelper.exe", false, L"ArkletUWPHelper.exe"}, // searched for: the working folder first
        {L"Arklet\\ArkletUWPHelper.exe", false, L"Arklet\\ArkletUWPHelper.exe"},
        {L"C:ArkletUWPHelper.exe", false, L"C:ArkletUWPHelper.exe"}, // relative to drive C:'s current folder
        {L"C:/Arklet/h.exe", false, L"C:/Arklet/h.exe"},
        {L"\\Arklet\\h.exe", false, L"\\Arklet\\h.exe"}, // the current drive's root
        {L"\\\\\\h.exe", false, L"\\\\\\h.exe"},
        {L"\\\\", false, L"\\\\"},
        {L"1:\\h.exe", false, L"1:\\h.exe"},
        {L"\"h.exe\"", false, L"h.exe"},
        {L"\"C:\\h.exe", false, L"\"C:\\h.exe"}, // a quote that is not closed stays
        {L"\"", false, L"\""},
        {L"", false, L""},
    };
    for (const Case& c : cases) {
        std::wstring path = c.value;
        EXPECT_EQ(takeAbsoluteProgramPath(&path[0]), c.taken) << (int)wcslen(c.value);
        EXPECT_STREQ(path.c_str(), c.path);
    }
}

} // namespace
