// The stub's own Win32 glue, run for real: texts from the string table, the AUTO switch with the system's
// argument splitter, the relaunch markers, stops and the internal-error report.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../native/argument_splitter_model.h"
#include "launch/relaunch.h"
#include "launch/relaunch_rules.h"
#include "startup/messages.h"
#include "startup/payload.h"
#include "startup/sfxhead.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {

TEST(LoadText, ContinuationsAndRotation)
{
    EXPECT_STREQ(loadText(IDS_CAPTION), L"Arklet Self-Extractor");
    EXPECT_STREQ(loadText(3000), L"Eerste deel, tweede deel, laatste deel");
    const wchar_t* first = loadText(IDS_AUTO);
    EXPECT_STREQ(first, L"AUTO");
    for (int i = 0; i < 4; i++)
        loadText(IDS_NOAUTO);
    EXPECT_STREQ(first, L"AUTO") << "five texts can be in use at once";
    loadText(IDS_SETUP);
    EXPECT_STREQ(first, L"Setup") << "the sixth load reuses the first buffer";
}

TEST(LoadText, EveryMessageIdIsPresent)
{
    const int ids[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1013, 1014, 1021, 1022, 1023,
                       1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1038, 1044,
                       1045, 1046, 1047, 1048, 1049, 1050, 1051, 1052, 1053, 1054, 1055, 1056, 1060, 1061,
                       1062, 1063, 1064, 1065, 1066, 1067, 1068, 1069, 2000, 2001, 2002, 2003, 2004, 2005,
                       2006, 2007, 2008, 2009, 2010, 2011, 2012, 2013, 2014, 2015, 2016, 1070};
    for (int id : ids) {
        wchar_t text[8];
        EXPECT_GT(LoadStringW(GetModuleHandleW(nullptr), id, text, 8), 0) << "id " << id;
    }
    wchar_t about[200];
    LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUT, about, 200);
    EXPECT_NE(wcsstr(about, L"%s"), nullptr);
    wchar_t kept[400];
    LoadStringW(GetModuleHandleW(nullptr), IDS_REPORT_KEPT, kept, 400);
    EXPECT_NE(wcsstr(kept, L"%s"), nullptr);
}

TEST(LoadText, MissingContinuationShowsABoxAndKeepsWhatCame)
{
    std::wstring self = buildProgram(L"stub_units_test.exe");
    RunResult run = runProgram(self, L" --child=missing-continuation");
    ASSERT_EQ(run.seen.size(), 1u) << narrow(run.describe());
    EXPECT_EQ(run.seen[0].text, L"Internal error: string resource not found: 3011");
    EXPECT_NE(run.seen[0].caption, L"Arklet Self-Extractor") << "the loader's own boxes use the default caption";
    EXPECT_EQ(run.exitCode, 0u);
}

TEST(AutoSwitch, UsesTheSystemsArgumentRules)
{
    struct Case {
        const wchar_t* line;
        int startMode;
        int mode;
        std::wstring folder;
    } cases[] = {
        {L"/auto \"C:\\Met Spatie\\x\" rest", 0, 1, L"C:\\Met Spatie\\x"},
        {L"-AUTO -q -r \"D:\\y\"", 0, 1, L"D:\\y"},
        {L"/AUTOMATIC", 0, 1, L"MATIC"},
        {L"/auto", 0, 1, L"unchanged"},
        {L"/noauto C:\\x", 1, 0, L"unchanged"},
        {L"C:\\x", 1, 1, L"unchanged"},
    };
    for (const Case& c : cases) {
        std::wstring line = c.line;
        automaticMode = c.startMode;
        wcscpy(targetFolder, L"unchanged");
        parseAutoSwitch(&line[0]);
        EXPECT_EQ(automaticMode, c.mode) << narrow(c.line);
        EXPECT_EQ(std::wstring(targetFolder), c.folder) << narrow(c.line);
    }
}

TEST(Relaunch, FolderHelpers)
{
    wchar_t folder[260];
    ASSERT_TRUE(temporaryFolder(folder));
    EXPECT_EQ(folder[wcslen(folder) - 1], L'\\');
    wchar_t made[260];
    wcscpy(made, folder);
    ASSERT_TRUE(makeUniqueFolder(made));
    wchar_t second[260];
    wcscpy(second, folder);
    ASSERT_TRUE(makeUniqueFolder(second));
    EXPECT_STRNE(made, second) << "a taken name is passed over";
    ASSERT_NO_FATAL_FAILURE(writeText(std::wstring(made) + L"file.txt", "x"));
    CreateDirectoryW((std::wstring(made) + L"inner").c_str(), nullptr);
    ASSERT_NO_FATAL_FAILURE(writeText(std::wstring(made) + L"inner\\deep.txt", "y"));
    EXPECT_TRUE(deleteFolderTree(made));
    EXPECT_FALSE(exists(made));
    EXPECT_TRUE(deleteFolderTree(second));
    wchar_t missing[260] = L"C:\\no\\such\\folder\\";
    EXPECT_FALSE(makeUniqueFolder(missing));
    EXPECT_STREQ(missing, L"C:\\no\\such\\folder\\");
}

TEST(Relaunch, LaunchPathOnlyInAPrivateCopy)
{
    // This test program is no private copy: the buffer stays as it was.
    wchar_t buffer[261] = L"before";
    EXPECT_FALSE(recoverLaunchPath(buffer, 261));
    EXPECT_STREQ(buffer, L"before");
    // Ask a child of this program, started with the markers, what it recovers.
    std::wstring self = buildProgram(L"stub_units_test.exe");
    struct Case {
        const wchar_t* markers;
        const char* expected;
    } cases[] = {
        {L" -run=1 -shortcut=\"C:\\Dir Name\\setup.exe\"", "C:\\Dir Name\\setup.exe"},
        {L" -RUN=1 -shortcut=\"C:\\x.exe\"", "(none)"},
        {L" -run=1", "(none)"},
        {L" -run=1 \"-shortcut=C:\\short\"", "C:\\sh"},
    };
    for (const Case& c : cases) {
        std::string out;
        std::wstring capacity = wcsstr(c.markers, L"short\"") ? L"6" : L"261";
        runConsole(L"\"" + self + L"\" --child=launch-path " + capacity + c.markers, &out);
        EXPECT_EQ(out, c.expected) << narrow(c.markers);
    }
}

std::vector<std::wstring> systemSplit(const std::wstring& line)
{
    int count = 0;
    wchar_t** items = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 0; items && i < count; i++)
        arguments.push_back(items[i]);
    LocalFree(items);
    return arguments;
}

// The awkward lines of the native tests and the same seeded random ones.
std::vector<std::wstring> linesToTry()
{
    std::printf("random command lines, seed %u\n", (unsigned)splitter_model::RANDOM_SEED);
    std::vector<std::wstring> lines = splitter_model::awkwardCommandLines();
    std::mt19937 random(splitter_model::RANDOM_SEED);
    for (uint32_t i = 0; i < splitter_model::RANDOM_LINES; i++)
        lines.push_back(splitter_model::randomCommandLine(random));
    return lines;
}

// The model that the native tests take as the oracle splits as the system does.
TEST(ArgumentSplitter, ModelAgreesWithTheSystem)
{
    for (const std::wstring& line : linesToTry()) {
        std::vector<std::wstring> system = systemSplit(line);
        if (line.empty()) {
            EXPECT_EQ(system.size(), 1u) << "the system names the calling program";
            continue;
        }
        EXPECT_EQ(splitter_model::split(line), system) << testing::PrintToString(line);
        if (HasFailure())
            break;
    }
}

// The copy's line, split by the system: an empty program name, the user's arguments as the system split
// the started line, then the two markers; the range the copy scans for options holds the user's arguments.
TEST(Relaunch, CopyLineSplitsByTheSystemAsPlanned)
{
    const wchar_t started[] = L"C:\\Program Files\\Uit\\setup.exe";
    for (const std::wstring& line : linesToTry()) {
        std::vector<wchar_t> out(copyCommandLineUnits(line.c_str(), started));
        const wchar_t* rest = line.c_str() + programNameEnd(line.c_str());
        buildCopyCommandLine(line.c_str(), started, argumentTail(rest).insideQuote, out.data());
        std::wstring copy = out.data();
        std::string shown = testing::PrintToString(line) + " -> " + testing::PrintToString(copy);

        std::vector<std::wstring> user = systemSplit(line);
        user[0] = L"";
        std::vector<std::wstring> expected = user;
        expected.push_back(L"-run=1");
        expected.push_back(std::wstring(L"-shortcut=") + started);
        EXPECT_EQ(systemSplit(copy), expected) << shown;

        uint32_t start = 0, end = 0;
        userArgumentRange(copy.c_str(), &start, &end);
        std::vector<std::wstring> scanned = systemSplit(L"p" + copy.substr(start, end - start));
        scanned[0] = L"";
        EXPECT_EQ(scanned, user) << shown;
        if (HasFailure())
            break;
    }
}

TEST(Stops, ReadErrorNamesTheProgramAndTheCode)
{
    std::wstring self = buildProgram(L"stub_units_test.exe");
    RunResult run = runProgram(self, L" --child=read-error");
    ASSERT_EQ(run.seen.size(), 1u) << narrow(run.describe());
    EXPECT_EQ(run.seen[0].caption, L"Arklet Self-Extractor");
    EXPECT_EQ(run.seen[0].text, L"Fout bij lezen van C:\\archief\\setup.exe. Mogelijke oorzaak: beschadigde schijf "
                                L"of bestandsoverdrachtfout. <9>");
    EXPECT_EQ(run.exitCode, 2u) << "the stop returned to the unwind point with value 2";
}

// The internal-error child runs in dir (as a private copy runs in its private folder) with TMP and TEMP
// set to temp.
RunResult runInternalErrorChild(const char* role, const std::wstring& dir, const std::wstring& temp)
{
    std::wstring self = buildProgram(L"stub_units_test.exe");
    std::wstring folder = temp.substr(0, temp.size() - 1);
    return runProgram(self, L" --child=" + std::wstring(role, role + strlen(role)), defaultAnswer, 30000, dir,
                      environmentWith({{L"TMP", folder.c_str()}, {L"TEMP", folder.c_str()}}));
}

TEST(Stops, InternalErrorWritesTheReportAndEndsWithCodeOne)
{
    std::wstring dir = scratchFolder(L"internal-error");
    std::wstring temp = scratchFolder(L"internal-error-temp");
    RunResult run = runInternalErrorChild("internal-error", dir, temp);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.seen.size(), 2u) << narrow(run.describe());
    EXPECT_EQ(run.seen[0].text, L"Interne Arklet-fout in bestand sfxhead regel 1613");
    // The report goes to the temporary folder itself, which outlives the private folder, and the message
    // names it in full.
    EXPECT_NE(run.seen[1].text.find(L"Bewaar het bestand " + temp + L"AKSFX32.RPT:"), std::wstring::npos)
        << narrow(run.seen[1].text);
    EXPECT_FALSE(exists(dir + L"AKSFX32.RPT"));
    std::vector<uint8_t> bytes = readWhole(temp + L"AKSFX32.RPT");
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes.size() % 2, 0u);
    std::wstring report((const wchar_t*)bytes.data(), bytes.size() / 2);
    EXPECT_NE(bytes[0], 0xFF) << "no byte-order mark";
    EXPECT_EQ(report.find(L"Interne Arklet-fout in bestand sfxhead regel 1613\r\n\nHuidige datum/tijd: "), 0u)
        << narrow(report);
    for (const wchar_t* piece : {L"Modulenaam = ", L"\nVersie besturingssysteem ", L"Windows NT\r\n",
                                 L"Geheugen in gebruik = ", L"Beschikbaar virtueel geheugen = "})
        EXPECT_NE(report.find(piece), std::wstring::npos) << narrow(piece);
    EXPECT_EQ(report.find(L'\0'), std::wstring::npos) << "no terminators";
    EXPECT_EQ(report.substr(report.size() - 2), L"\r\n");
}

TEST(Stops, InternalErrorWithoutReportShowsOneBox)
{
    std::wstring dir = scratchFolder(L"internal-error-readonly");
    std::wstring temp = scratchFolder(L"internal-error-readonly-temp");
    // A folder named like the report keeps the file from being created.
    CreateDirectoryW((temp + L"AKSFX32.RPT").c_str(), nullptr);
    RunResult run = runInternalErrorChild("internal-error", dir, temp);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.seen.size(), 1u) << narrow(run.describe());
}

TEST(Stops, SecondInternalErrorEndsAtOnce)
{
    std::wstring dir = scratchFolder(L"internal-error-twice");
    RunResult run = runInternalErrorChild("internal-error-twice", dir, scratchFolder(L"internal-error-twice-temp"));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.seen.empty()) << narrow(run.describe());
}

} // namespace

// Child roles: the stops end the process, so they run in a process of their own.
static int runChild(const std::string& role, int argc, char** argv)
{
    if (role == "read-error") {
        wcscpy(programPath, L"C:\\archief\\setup.exe");
        if (int value = setjmp(unwindPoint))
            return value;
        readError(9);
    }
    if (role == "missing-continuation")
        return wcscmp(loadText(3010), L"Dit begint een ketting zonder einde") == 0 ? 0 : 4;
    if (role == "internal-error")
        internalError(SFX_MODULE_NAME, 1613);
    if (role == "internal-error-twice") {
        internalErrorCount = 1;
        internalError(SFX_MODULE_NAME, 1);
    }
    if (role == "launch-path" && argc > 2) {
        wchar_t buffer[261] = L"(unchanged)";
        bool ok = recoverLaunchPath(buffer, (uint32_t)atoi(argv[2]));
        printf("%s", ok ? narrow(buffer).c_str() : "(none)");
        return 0;
    }
    return 3;
}

int main(int argc, char** argv)
{
    instanceHandle = GetModuleHandleW(nullptr);
    if (argc > 1 && strncmp(argv[1], "--child=", 8) == 0)
        return runChild(argv[1] + 8, argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
