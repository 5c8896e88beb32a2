// Unattended use under Wine, as deployment tools and CI jobs start a self-extracting file: silent mode
// (/S, /SILENT) shows no window and asks nothing, every run ends by itself with an exit code that says what
// happened, and /LOG= writes one line per event. Also the help switch and environment variables in the
// target folder. The payload's setup.exe is run_probe.exe, which records its start and ends with 7.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_files.h"
#include "ui_driver.h"

namespace {

const DWORD kProbeExitCode = 7;
const DWORD kWaitLimitMs = 60000; // for a run to end by itself; reaching it fails the test

struct Sfx {
    std::wstring dir;    // the test's folder, holding setup-file.exe
    std::wstring exe;
    std::wstring target; // where the runs extract to (made by the first)
    std::wstring log;    // where the runs log to
};

// A file built from a payload of three files and the probe as setup.exe, with the given options.
Sfx makeSfx(const std::wstring& name, const std::wstring& options)
{
    Sfx s;
    s.dir = scratchFolder(L"unattended-" + name);
    s.exe = s.dir + L"setup-file.exe";
    s.target = s.dir + L"target";
    s.log = s.dir + L"run.log";
    std::wstring payload = s.dir + L"payload\\";
    CreateDirectoryW(payload.c_str(), nullptr);
    CreateDirectoryW((payload + L"bin").c_str(), nullptr);
    EXPECT_TRUE(CopyFileW(buildProgram(L"run_probe.exe").c_str(), (payload + L"setup.exe").c_str(), FALSE));
    writeText(payload + L"readme.txt", "lees mij\r\n");
    writeText(payload + L"bin\\data.bin", std::string(3000, 'z'));
    buildSfx(options + L" --store -o " + quote(s.exe) + L" " + quote(payload));
    return s;
}

std::vector<std::string> logLines(const std::wstring& path)
{
    std::vector<uint8_t> bytes = readWhole(path);
    std::vector<std::string> lines;
    std::string text(bytes.begin(), bytes.end());
    for (size_t from = 0, end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2)
        lines.push_back(text.substr(from, end - from));
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& line : lines)
        all += "  " + line + "\n";
    return all;
}

// True when some line begins with prefix.
bool hasLine(const std::vector<std::string>& lines, const std::string& prefix)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; });
}

// A silent run: it ends by itself and no window of its process tree appears.
RunResult runSilently(const Sfx& s, const std::wstring& args, const std::wstring& environment = L"")
{
    RunResult run = runProgram(s.exe, args, defaultAnswer, kWaitLimitMs, s.dir, environment);
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_TRUE(run.seen.empty()) << "silent mode showed a window\n" << narrow(run.describe());
    return run;
}

std::wstring silentArgs(const Sfx& s, const std::wstring& more = L"")
{
    return L" /S " + quote(s.target) + L" /LOG=" + quote(s.log) + more;
}

TEST(Silent, FirstRunThenARunOverTheInstall)
{
    Sfx s = makeSfx(L"twice", L"--run setup.exe --run-wait");
    if (HasFatalFailure())
        return;
    RunResult first = runSilently(s, silentArgs(s));
    EXPECT_EQ(first.exitCode, kProbeExitCode) << narrow(first.describe());
    std::vector<std::string> log = logLines(s.log);
    const std::string target = narrow(s.target);
    for (const char* name : {"\\readme.txt", "\\bin\\data.bin", "\\setup.exe"})
        EXPECT_TRUE(hasLine(log, "written " + target + name)) << joined(log);
    EXPECT_TRUE(hasLine(log, "started \"" + target + "\\setup.exe\"")) << joined(log);
    EXPECT_TRUE(hasLine(log, "program exit code 7")) << joined(log);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "exit code 7");
    ASSERT_TRUE(DeleteFileW((s.target + L"\\setup.exe.txt").c_str())) << "the program ran";

    // Built without --overwrite: every file there is kept, no question is asked, and the program, which
    // may not match what was kept, does not start.
    ASSERT_NO_FATAL_FAILURE(writeText(s.target + L"\\readme.txt", "older\r\n"));
    RunResult second = runSilently(s, silentArgs(s));
    EXPECT_EQ(second.exitCode, 3u) << narrow(second.describe());
    log = logLines(s.log);
    EXPECT_TRUE(hasLine(log, "kept " + target + "\\readme.txt")) << joined(log);
    EXPECT_TRUE(hasLine(log, "message 1026 Bestand " + target + "\\readme.txt bestaat al.")) << joined(log);
    EXPECT_FALSE(hasLine(log, "written")) << joined(log);
    EXPECT_FALSE(hasLine(log, "started")) << joined(log);
    EXPECT_EQ(log.back(), "exit code 3");
    EXPECT_FALSE(exists(s.target + L"\\setup.exe.txt")) << "the program ran after files were kept";
    EXPECT_EQ(readWhole(s.target + L"\\readme.txt").size(), 7u);

    // /OVERWRITE replaces them, and the program runs again.
    RunResult third = runSilently(s, silentArgs(s, L" /OVERWRITE"));
    EXPECT_EQ(third.exitCode, kProbeExitCode) << narrow(third.describe());
    EXPECT_EQ(readWhole(s.target + L"\\readme.txt").size(), 10u);
    EXPECT_EQ(logLines(s.log).back(), "exit code 7");
}

TEST(Silent, FailuresEndTheRunWithTheirCode)
{
    struct Case {
        const char* what;
        const wchar_t* options;  // building options
        bool damage;             // a byte of bin\data.bin's stored data changed
        bool targetIsAFile;
        const char* password;    // the password file's content, null for none
        DWORD exitCode;
        std::vector<std::string> lines; // lines the log must hold (their beginnings)
    } cases[] = {
        {"a damaged entry", L"", true, false, nullptr, 1,
         {"failed ", "message 1046 ZIP beschadigd: bestand ", "exit code 1"}},
        {"a target that is a file", L"", false, true, nullptr, 1,
         {"refused ", "message 104", "exit code 1"}}, // 1044 for a file, 1048 for a folder
        {"a wrong password", L"--encrypt geheim", false, false, "fout\r\n", 1,
         {"message 1006 Onjuist wachtwoord opgegeven", "exit code 1"}},
        {"no password at all", L"--encrypt geheim", false, false, nullptr, 1,
         {"message 1005 Geen wachtwoord opgegeven", "exit code 1"}},
        {"the right password", L"--encrypt geheim", false, false, "geheim\n", 0,
         {"written ", "exit code 0"}},
        {"a start-up question goes on", L"--message \"Doorgaan?\" --ask yes-no", false, false, nullptr, 0,
         {"message 0 Doorgaan?", "written ", "exit code 0"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sfx s = makeSfx(L"fail" + std::to_wstring(n++), c.options);
        if (HasFatalFailure())
            return;
        if (c.damage) {
            std::vector<uint8_t> file = readWhole(s.exe);
            const std::string zz(3000, 'z');
            auto at = std::search(file.begin(), file.end(), zz.begin(), zz.end());
            ASSERT_NE(at, file.end());
            at[1500] = 'y';
            ASSERT_NO_FATAL_FAILURE(writeWhole(s.exe, file));
        }
        if (c.targetIsAFile)
            ASSERT_NO_FATAL_FAILURE(writeText(s.target, "a file\r\n"));
        std::wstring more;
        if (c.password) {
            ASSERT_NO_FATAL_FAILURE(writeText(s.dir + L"password.txt", c.password));
            more = L" /PASSWORD-FILE=password.txt"; // relative: beside the started file
        }
        RunResult run = runSilently(s, silentArgs(s, more));
        EXPECT_EQ(run.exitCode, c.exitCode) << narrow(run.describe());
        std::vector<std::string> log = logLines(s.log);
        for (const std::string& line : c.lines)
            EXPECT_TRUE(hasLine(log, line)) << line << "\n" << joined(log);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), c.lines.back());
    }
}

// A file built with --silent runs so without a switch, into the folder it was built with.
TEST(Silent, BuiltInWithoutASwitch)
{
    Sfx s = makeSfx(L"built-in", L"--silent --folder target");
    if (HasFatalFailure())
        return;
    RunResult run = runSilently(s, L"");
    EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
    EXPECT_TRUE(exists(s.target + L"\\bin\\data.bin"));
}

// The started file hands the work to a copy in the temporary folder; when there is none, the started file
// itself stays silent and logs why.
TEST(Silent, NoPrivateCopyIsLoggedWithoutAWindow)
{
    Sfx s = makeSfx(L"no-copy", L"");
    if (HasFatalFailure())
        return;
    std::wstring environment = environmentWith({{L"TMP", L"C:\\no\\such\\folder"}, {L"TEMP", L"C:\\no\\such\\folder"}});
    RunResult run = runSilently(s, silentArgs(s), environment);
    EXPECT_EQ(run.exitCode, 1u) << narrow(run.describe());
    std::vector<std::string> log = logLines(s.log);
    EXPECT_TRUE(hasLine(log, "message 1070 Kan geen tijdelijke kopie")) << joined(log);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "exit code 1");
    EXPECT_FALSE(exists(s.target));
}

TEST(Help, SwitchesAreShownAndNothingIsExtracted)
{
    Sfx s = makeSfx(L"help", L"--auto");
    if (HasFatalFailure())
        return;
    for (const wchar_t* help : {L" /?", L" -?", L" /h", L" --help"}) {
        SCOPED_TRACE(narrow(help));
        std::vector<std::wstring> texts;
        RunResult run = runProgram(s.exe, help + std::wstring(L" ") + quote(s.target), [&](const SeenWindow& w, HWND h) {
            texts.push_back(w.text);
            return defaultAnswer(w, h);
        }, kWaitLimitMs, s.dir);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
        ASSERT_EQ(texts.size(), 1u) << narrow(run.describe());
        EXPECT_EQ(texts[0].rfind(L"Gebruik: setup-file.exe [opties] [map]", 0), 0u) << narrow(texts[0]);
        for (const wchar_t* word : {L"/S of /SILENT", L"/LOG=bestand", L"/PASSWORD-FILE=bestand", L"/OVERWRITE",
                                    L"/NOOVERWRITE", L"/AUTO"})
            EXPECT_NE(texts[0].find(word), std::wstring::npos) << narrow(word);
        EXPECT_FALSE(exists(s.target));
    }
    // In silent mode the text goes to the log.
    RunResult run = runSilently(s, silentArgs(s, L" /?"));
    EXPECT_EQ(run.exitCode, 0u);
    std::vector<std::string> log = logLines(s.log);
    EXPECT_TRUE(hasLine(log, "message 1073 Gebruik: setup-file.exe")) << joined(log);
    EXPECT_FALSE(exists(s.target));
}

TEST(TargetFolder, EnvironmentVariablesAreExpandedWhenTheFileRuns)
{
    Sfx s = makeSfx(L"variables", L"--folder %AKSFX_TEST_ROOT%\\%AKSFX_TEST_APP%");
    if (HasFatalFailure())
        return;
    std::wstring root = s.dir + L"root";
    std::wstring withBoth = environmentWith({{L"AKSFX_TEST_ROOT", root.c_str()}, {L"AKSFX_TEST_APP", L"App"}});
    RunResult run = runSilently(s, L" /S /LOG=" + quote(s.log), withBoth);
    EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
    EXPECT_TRUE(exists(root + L"\\App\\readme.txt"));

    // A variable that is not set stops the run before anything is made, with its name.
    std::wstring withOne = environmentWith({{L"AKSFX_TEST_ROOT", root.c_str()}, {L"AKSFX_TEST_APP", nullptr}});
    run = runSilently(s, L" /S /LOG=" + quote(s.log), withOne);
    EXPECT_EQ(run.exitCode, 1u) << narrow(run.describe());
    std::vector<std::string> log = logLines(s.log);
    EXPECT_TRUE(hasLine(log, "message 1074 Onbekende omgevingsvariabele %AKSFX_TEST_APP% in map")) << joined(log);
    EXPECT_FALSE(exists(root + L"\\%AKSFX_TEST_APP%"));
    EXPECT_FALSE(exists(s.dir + L"%AKSFX_TEST_ROOT%"));

    // In the dialog, unattended: the same message, and the dialog ends with the failure.
    std::vector<std::wstring> texts;
    run = runProgram(s.exe, L" /AUTO", [&](const SeenWindow& w, HWND h) {
        if (w.isMessageBox())
            texts.push_back(w.text);
        return defaultAnswer(w, h);
    }, kWaitLimitMs, s.dir, withOne);
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 1u) << narrow(run.describe());
    ASSERT_EQ(texts.size(), 1u) << narrow(run.describe());
    EXPECT_EQ(texts[0].rfind(L"Onbekende omgevingsvariabele %AKSFX_TEST_APP% in map", 0), 0u) << narrow(texts[0]);
}

} // namespace
