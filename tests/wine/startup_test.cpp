// Start-up of real self-extracting files under Wine: integrity checks, options, the start-up message and
// the private relaunch, seen through the windows a user would see.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <set>

#include "test_files.h"
#include "ui_driver.h"

namespace {

const std::wstring kCaption = L"Arklet Self-Extractor";
const std::wstring kHeaderDamaged =
    L"Header van Arklet Self-Extractor is beschadigd. Mogelijke oorzaak: beschadigde schijf of "
    L"bestandsoverdrachtfout";
const std::wstring kZipDamaged =
    L"Zip file is beschadigd, afgekapt of gewijzigd sinds deze is gemaakt. Als u dit bestand hebt "
    L"gedownload, probeert u het nogmaals te downloaden.";
const std::wstring kIncomplete =
    L"Dit is een onvolledig zelfuitpakkend bestand. Maak het bestand opnieuw en probeer het nogmaals.";

// One small payload folder shared by the tests.
std::wstring payloadFolder()
{
    static std::wstring folder;
    if (folder.empty()) {
        folder = scratchFolder(L"payload");
        writeText(folder + L"readme.txt", "Hallo wereld\r\n");
        CreateDirectoryW((folder + L"sub").c_str(), nullptr);
        writeText(folder + L"sub\\data.bin", std::string(5000, 'x'));
    }
    return folder;
}

// Builds setup.exe in a fresh folder for the test and returns its path.
std::wstring makeSfx(const std::wstring& testName, const std::wstring& options)
{
    std::wstring dir = scratchFolder(testName);
    std::wstring exe = dir + L"setup.exe";
    buildSfx(options + L" -o " + quote(exe) + L" " + quote(payloadFolder()));
    return exe;
}

const SeenWindow* find(const RunResult& run, bool messageBox)
{
    for (const auto& w : run.seen)
        if (w.isMessageBox() == messageBox && (messageBox || w.hasControl(106)))
            return &w;
    return nullptr;
}

const SeenWindow* mainDialog(const RunResult& run) { return find(run, false); }
const SeenWindow* firstBox(const RunResult& run) { return find(run, true); }

void expectOnlyBox(const RunResult& run, const std::wstring& text, DWORD exitCode)
{
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, exitCode) << narrow(run.describe());
    ASSERT_EQ(run.seen.size(), 1u) << narrow(run.describe());
    EXPECT_EQ(run.seen[0].caption, kCaption);
    EXPECT_EQ(run.seen[0].text, text);
}

TEST(Startup, SoundFileShowsTheMainDialog)
{
    std::wstring exe = makeSfx(L"sound", L"--folder " + quote(L"C:\\Doel\\"));
    if (HasFatalFailure())
        return;
    RunResult run = runProgram(exe, L"");
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u);
    const SeenWindow* dialog = mainDialog(run);
    ASSERT_NE(dialog, nullptr) << narrow(run.describe());
    EXPECT_EQ(dialog->caption, L"Arklet Self-Extractor - setup.exe");
    EXPECT_EQ(dialog->controlText(106), L"C:\\Doel\\");
    EXPECT_EQ(run.seen.size(), 1u) << narrow(run.describe());
}

TEST(Startup, DamageIsReported)
{
    struct Case {
        const char* what;
        const wchar_t* options;
        // Changes the built file; returns false when the case cannot be set up.
        void (*damage)(std::vector<uint8_t>& file, size_t block);
        const std::wstring* message; // null: the main dialog must appear
    } cases[] = {
        {"byte in the checked range", L"",
         [](std::vector<uint8_t>& f, size_t block) { f[block - 1] ^= 0x01; }, &kHeaderDamaged},
        {"byte of the sfx header", L"--message Hallo",
         [](std::vector<uint8_t>& f, size_t block) { f[le32(f, block + 16)] ^= 0x20; }, &kHeaderDamaged},
        {"full range: DOS stub", L"--crc full",
         [](std::vector<uint8_t>& f, size_t) { f[0x50] ^= 0x01; }, &kHeaderDamaged},
        {"after headers: DOS stub", L"",
         [](std::vector<uint8_t>& f, size_t) { f[0x50] ^= 0x01; }, nullptr},
        {"after headers: PE checksum", L"",
         [](std::vector<uint8_t>& f, size_t) { f[le32(f, 0x3C) + 88] ^= 0x10; }, nullptr},
        {"byte of the archive", L"",
         [](std::vector<uint8_t>& f, size_t block) { f[le32(f, block + 12) + 40] ^= 0x01; }, nullptr},
        {"end record", L"",
         [](std::vector<uint8_t>& f, size_t block) { f[le32(f, block + 20) + 3] = 0x07; }, &kZipDamaged},
        {"end record offset past the file", L"--crc none",
         [](std::vector<uint8_t>& f, size_t block) { putLe32(f, block + 20, (uint32_t)f.size() + 100); },
         &kZipDamaged},
        {"entry point", L"--crc none",
         [](std::vector<uint8_t>& f, size_t block) { putLe32(f, block + 54, le32(f, block + 54) + 1); },
         &kZipDamaged},
        {"incomplete", L"--crc none",
         [](std::vector<uint8_t>& f, size_t block) { f[block + 42] = f[block + 43] = 0; }, &kIncomplete},
        {"header longer than its buffer", L"--crc none",
         [](std::vector<uint8_t>& f, size_t block) { putLe32(f, block + 16, le32(f, block + 12) - 2514); },
         &kHeaderDamaged},
        {"header without its fifth terminator", L"--crc none --info x",
         [](std::vector<uint8_t>& f, size_t block) {
             uint32_t end = le32(f, block + 12);
             f[end - 2] = 'y';
         },
         &kHeaderDamaged},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring exe = makeSfx(L"damage" + std::to_wstring(n++), c.options);
        if (HasFatalFailure())
            return;
        std::vector<uint8_t> file = readWhole(exe);
        size_t block = blockOffset(file);
        ASSERT_NE(block, 0u);
        c.damage(file, block);
        ASSERT_NO_FATAL_FAILURE(writeWhole(exe, file));
        RunResult run = runProgram(exe, L"");
        if (c.message) {
            ASSERT_NO_FATAL_FAILURE(expectOnlyBox(run, *c.message, 1));
        } else {
            EXPECT_NE(mainDialog(run), nullptr) << narrow(run.describe());
            EXPECT_EQ(firstBox(run), nullptr) << narrow(run.describe());
        }
    }
}

TEST(Startup, InfoOptionIsLookedForInTheUsersArgumentsOnly)
{
    struct Case {
        const char* what;
        const wchar_t* folder;
        const wchar_t* file;
        const wchar_t* args;
        bool info;
    } cases[] = {
        {"inside a quoted user argument", L"info-in-argument", L"setup.exe", L" \"C:\\my-information\"", true},
        {"in the started file's folder", L"printer-info", L"setup.exe", L"", false},
        {"in the started file's name", L"info-in-name", L"tool-info.exe", L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring exe = scratchFolder(c.folder) + c.file;
        ASSERT_NO_FATAL_FAILURE(
            buildSfx(L"--info \"-win32 -le -overwrite\" -o " + quote(exe) + L" " + quote(payloadFolder())));
        RunResult run = runProgram(exe, c.args);
        if (c.info) {
            ASSERT_NO_FATAL_FAILURE(expectOnlyBox(run, L"-win32 -le -overwrite", 0));
            ASSERT_EQ(run.seen.size(), 1u);
            EXPECT_EQ(run.seen[0].buttons(), std::vector<int>{IDOK});
        } else {
            EXPECT_NE(mainDialog(run), nullptr) << narrow(run.describe());
            EXPECT_EQ(firstBox(run), nullptr) << narrow(run.describe());
        }
    }
}

TEST(Startup, StartupMessageButtons)
{
    const std::wstring message = L"Welkom bij de installatie";
    struct Case {
        const char* what;
        const wchar_t* options;
        std::vector<int> buttons;
        int answer;
        bool dialogFollows;
    } cases[] = {
        {"OK only", L"", {IDOK}, IDOK, true},
        {"yes", L"--ask yes-no", {IDYES, IDNO}, IDYES, true},
        {"no", L"--ask yes-no", {IDYES, IDNO}, IDNO, false},
        {"ok", L"--ask ok-cancel", {IDOK, IDCANCEL}, IDOK, true},
        {"cancel", L"--ask ok-cancel", {IDOK, IDCANCEL}, IDCANCEL, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring exe = makeSfx(L"startup" + std::to_wstring(n++),
                                   std::wstring(c.options) + L" --caption \"Mijn titel\" --message \"" + message + L"\"");
        if (HasFatalFailure())
            return;
        std::vector<int> buttonsSeen;
        RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) {
            if (w.isMessageBox()) {
                buttonsSeen = w.buttons();
                return c.answer;
            }
            return defaultAnswer(w, h);
        });
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, c.dialogFollows ? 0u : 2u) << "No and Cancel stop the work";
        const SeenWindow* box = firstBox(run);
        ASSERT_NE(box, nullptr) << narrow(run.describe());
        EXPECT_EQ(box->caption, L"Mijn titel");
        EXPECT_EQ(box->text, message);
        EXPECT_EQ(buttonsSeen, c.buttons);
        EXPECT_EQ(mainDialog(run) != nullptr, c.dialogFollows) << narrow(run.describe());
    }
}

// The files of payloadFolder() are in folder.
void expectExtracted(const std::wstring& folder)
{
    EXPECT_EQ(readWhole(folder + L"readme.txt").size(), 14u) << narrow(folder);
    EXPECT_EQ(readWhole(folder + L"sub\\data.bin").size(), 5000u) << narrow(folder);
}

TEST(Startup, AutoSwitchSetsTheTargetFolder)
{
    std::wstring exe = makeSfx(L"autofolder", L"--folder C:\\Default");
    if (HasFatalFailure())
        return;
    std::wstring spaced = scratchFolder(L"auto met spatie");
    std::wstring dashed = scratchFolder(L"auto-x");
    struct Case {
        std::wstring args;
        std::wstring extractedTo; // automatic mode: the files land here (the dialog closes by itself)
        std::wstring field;       // otherwise: the folder the dialog shows
    } cases[] = {
        {L" /auto " + quote(spaced + L"Doel"), spaced + L"Doel\\", L""},
        {L" /AUTO -x " + dashed + L"Uit", dashed + L"Uit\\", L""},
        {L" /NOAUTO D:\\Ignored", L"", L"C:\\Default"},
        {L" -parent=0 /AUTO D:\\Ignored", L"", L"C:\\Default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.args));
        RunResult run = runProgram(exe, c.args);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
        if (!c.extractedTo.empty()) {
            expectExtracted(c.extractedTo);
        } else {
            const SeenWindow* dialog = mainDialog(run);
            ASSERT_NE(dialog, nullptr) << narrow(run.describe());
            EXPECT_EQ(dialog->controlText(106), c.field);
        }
    }
}

TEST(Startup, ParentOptionOwnsTheMainDialog)
{
    std::wstring exe = makeSfx(L"parent", L"");
    if (HasFatalFailure())
        return;
    HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    struct Case {
        std::wstring args;
        HWND expected;
    } cases[] = {
        {L" -parent=" + std::to_wstring((UINT_PTR)owner), owner},
        {L" -parent=1 -parent= " + std::to_wstring((UINT_PTR)owner), owner}, // the last one counts
        {L" -parent=x", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.args));
        HWND seenOwner = (HWND)-1;
        RunResult run = runProgram(exe, c.args, [&](const SeenWindow& w, HWND h) {
            seenOwner = GetWindow(h, GW_OWNER);
            return defaultAnswer(w, h);
        });
        ASSERT_NE(mainDialog(run), nullptr) << narrow(run.describe());
        EXPECT_EQ(seenOwner, c.expected);
    }
    DestroyWindow(owner);
}

TEST(Relaunch, WorkHappensInAPrivateCopyThatIsRemovedAfterwards)
{
    std::wstring exe = makeSfx(L"relaunch", L"");
    if (HasFatalFailure())
        return;
    std::vector<std::wstring> before = temporaryFolderNames();
    std::wstring copyPath;
    RunResult run = runProgram(exe, L" /x", [&](const SeenWindow& w, HWND h) {
        copyPath = imagePathOf(w.processId);
        return defaultAnswer(w, h);
    });
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_NE(mainDialog(run), nullptr);

    wchar_t temp[MAX_PATH], longTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetLongPathNameW(temp, longTemp, MAX_PATH);
    std::wstring folder = copyPath.substr(0, copyPath.rfind(L'\\') + 1);
    EXPECT_EQ(copyPath.substr(copyPath.size() - 9), L"setup.exe") << narrow(copyPath);
    EXPECT_EQ(_wcsnicmp(folder.c_str(), longTemp, wcslen(longTemp)), 0) << narrow(copyPath);
    std::wstring name = folder.substr(wcslen(longTemp), folder.size() - wcslen(longTemp) - 1);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << narrow(name);
    EXPECT_FALSE(exists(folder)) << "the private folder is removed: " << narrow(folder);
    EXPECT_EQ(temporaryFolderNames(), before);
}

// The file names (lowercase) of the modules loaded in process pid.
std::set<std::wstring> modulesOf(DWORD pid)
{
    std::set<std::wstring> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE)
        return names;
    MODULEENTRY32W module;
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) {
        std::wstring name = module.szModule;
        for (wchar_t& c : name)
            c = towlower(c);
        names.insert(name);
    }
    CloseHandle(snapshot);
    return names;
}

// The id of pid's parent process; 0 when it is gone.
DWORD parentOf(DWORD pid)
{
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W process;
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(snapshot, &process); more; more = Process32NextW(snapshot, &process))
        if (process.th32ProcessID == pid)
            parent = process.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent;
}

// The started process only copies the file and waits: the libraries of the user interface load in the
// copy alone (under Wine they cost more than the whole hand-over).
TEST(Relaunch, StartedProcessLoadsNoUserInterfaceLibrary)
{
    std::wstring exe = makeSfx(L"lean-start", L"");
    if (HasFatalFailure())
        return;
    std::set<std::wstring> started, copy;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) {
        if (w.hasControl(106)) {
            copy = modulesOf(w.processId);
            started = modulesOf(parentOf(w.processId));
        }
        return defaultAnswer(w, h);
    });
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    ASSERT_NE(mainDialog(run), nullptr) << narrow(run.describe());
    ASSERT_TRUE(started.count(L"setup.exe") && started.count(L"kernel32.dll"))
        << "the started process's modules were listed";
    for (const wchar_t* library : {L"user32.dll", L"comctl32.dll"})
        EXPECT_TRUE(copy.count(library)) << "the copy shows the dialog with " << narrow(library);
    for (const wchar_t* library : {L"user32.dll", L"gdi32.dll", L"comctl32.dll", L"shell32.dll", L"shlwapi.dll"})
        EXPECT_FALSE(started.count(library)) << "the started process loaded " << narrow(library);
}

TEST(Relaunch, LocalRedirectionEndsTheProgram)
{
    std::wstring exe = makeSfx(L"dotlocal", L"");
    if (HasFatalFailure())
        return;
    CreateDirectoryW((exe + L".local").c_str(), nullptr);
    RunResult run = runProgram(exe, L"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.seen.empty()) << narrow(run.describe());
}

// Runs exe with args, answering as a user who leaves automatic mode alone: a message box gets its first
// button, the main dialog is closed only when it waits for the user.
RunResult runUnattended(const std::wstring& exe, const std::wstring& args, const std::wstring& workDir = L"",
                        const std::wstring& environment = L"")
{
    return runProgram(exe, args, defaultAnswer, 30000, workDir, environment);
}

TEST(Relaunch, ArgumentsWithAnOpenQuoteReachTheCopyUnchanged)
{
    std::wstring exe = makeSfx(L"quoted", L"");
    if (HasFatalFailure())
        return;
    std::wstring base = scratchFolder(L"quoted-targets");
    struct Case {
        const char* what;
        std::wstring args;
        std::wstring extractedTo;
    } cases[] = {
        // "%~dp0" in a batch file ends in a backslash: \" is a literal quote and the quote stays open.
        {"a quoted folder ending in a backslash", L" /AUTO \"" + base + L"Uit\\\"", base + L"Uit\\"},
        {"the same with a blank in the folder", L" /AUTO \"" + base + L"Met Spatie\\\"", base + L"Met Spatie\\"},
        {"a quote never closed", L" /AUTO \"" + base + L"Open", base + L"Open\\"},
        {"a quote never closed after a backslash", L" /AUTO \"" + base + L"Open2\\", base + L"Open2\\"},
        {"an option after the folder", L" /AUTO \"" + base + L"Na\\\" -x", base + L"Na\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunResult run = runUnattended(exe, c.args);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
        EXPECT_EQ(run.processesNamed(L"setup.exe"), 2) << "the started file and one copy\n" << narrow(run.describe());
        expectExtracted(c.extractedTo);
    }
}

TEST(Relaunch, RelativeTargetsAreTakenFromTheStartedFilesFolder)
{
    std::wstring elsewhere = scratchFolder(L"relative-cwd");
    struct Case {
        const char* what;
        const wchar_t* options;
        const wchar_t* args;
        const wchar_t* typed;    // typed into the folder field before Unzip, when given
        const wchar_t* field;    // the folder the dialog shows at first (relative to the file's folder)
        const wchar_t* lands;    // where the files land, relative to the file's folder
    } cases[] = {
        {"/AUTO out from another current folder", L"", L" /AUTO out", nullptr, nullptr, L"out\\"},
        {"/AUTO with a dot folder", L"", L" /AUTO .\\sub\\map", nullptr, nullptr, L"sub\\map\\"},
        {"a relative folder built in", L"--auto --folder Uitvoer", L"", nullptr, nullptr, L"Uitvoer\\"},
        {"the dialog shows it resolved", L"--folder Uitvoer", L"", nullptr, L"Uitvoer", nullptr},
        {"the dialog shows . as the file's folder", L"--folder .", L"", nullptr, L"", nullptr},
        {"typed into the dialog", L"", L"", L"getypt\\map", nullptr, L"getypt\\map\\"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring dir = scratchFolder(L"relative" + std::to_wstring(n++));
        std::wstring exe = dir + L"setup.exe";
        ASSERT_NO_FATAL_FAILURE(
            buildSfx(std::wstring(c.options) + L" -o " + quote(exe) + L" " + quote(payloadFolder())));
        std::wstring shownAtFirst;
        HWND main = nullptr;
        RunResult run = runProgram(exe, c.args, [&](const SeenWindow& w, HWND h) -> int {
            if (!w.hasControl(106)) {
                // The success box of a run from the dialog: the dialog then waits to be closed.
                if (main && c.typed)
                    PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
                return defaultAnswer(w, h);
            }
            main = h;
            shownAtFirst = w.controlText(106);
            if (c.typed) {
                SendMessageTimeoutW(GetDlgItem(h, 106), WM_SETTEXT, 0, (LPARAM)c.typed, SMTO_ABORTIFHUNG, 5000,
                                    nullptr);
                return IDOK;
            }
            return c.field ? IDCANCEL : 0;
        }, 30000, elsewhere);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
        if (c.field) {
            std::wstring expected = dir + c.field;
            if (!*c.field)
                expected.pop_back(); // the folder itself, without its backslash
            EXPECT_EQ(shownAtFirst, expected);
        }
        if (c.lands)
            expectExtracted(dir + c.lands);
        EXPECT_FALSE(exists(elsewhere + L"readme.txt"));
    }
}

TEST(Relaunch, LongStartedPathKeepsAutomaticMode)
{
    // A started path of 240 characters: the copy's command line carries it, and it must not count as the
    // text after AUTO.
    std::wstring dir = scratchFolder(L"long");
    const std::wstring file = L"setup.exe";
    while (dir.size() + file.size() < 240) {
        size_t room = 240 - file.size() - dir.size() - 1;
        dir += std::wstring(room < 60 ? room : 60, L'l') + L"\\";
        CreateDirectoryW(dir.c_str(), nullptr);
    }
    std::wstring exe = dir + file;
    ASSERT_EQ(exe.size(), 240u);
    ASSERT_NO_FATAL_FAILURE(buildSfx(L"-o " + quote(exe) + L" " + quote(payloadFolder())));
    std::wstring target = scratchFolder(L"long-doel");
    RunResult run = runUnattended(exe, L" /AUTO " + quote(target + L"x"));
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u);
    expectExtracted(target + L"x\\");
}

TEST(Relaunch, ReadOnlyStartedFileLeavesNoFolderBehind)
{
    std::wstring exe = makeSfx(L"readonly", L"");
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_READONLY));
    std::wstring target = scratchFolder(L"readonly-doel");
    std::vector<std::wstring> before = temporaryFolderNames();
    RunResult run = runUnattended(exe, L" /AUTO " + quote(target + L"x"));
    SetFileAttributesW(exe.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u);
    expectExtracted(target + L"x\\");
    EXPECT_EQ(temporaryFolderNames(), before) << "the private folder is removed";
}

// A script may start several files at once: each must get a private folder of its own, although all of
// them pick a name from the same clock.
TEST(Relaunch, FilesStartedTogetherEachRunInAFolderOfTheirOwn)
{
    std::wstring exe = makeSfx(L"together", L"");
    if (HasFatalFailure())
        return;
    std::wstring base = scratchFolder(L"together-doel");
    std::vector<std::wstring> before = temporaryFolderNames();
    const int COUNT = 4;
    HANDLE processes[COUNT];
    for (int i = 0; i < COUNT; i++) {
        std::wstring line = quote(exe) + L" /AUTO " + quote(base + std::to_wstring(i));
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        ASSERT_TRUE(CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        CloseHandle(process.hThread);
        processes[i] = process.hProcess;
    }
    // Automatic runs end by themselves; the limit only keeps a hanging run from hanging the test.
    ASSERT_EQ(WaitForMultipleObjects(COUNT, processes, TRUE, 180000), WAIT_OBJECT_0);
    for (int i = 0; i < COUNT; i++) {
        DWORD code = 99;
        GetExitCodeProcess(processes[i], &code);
        CloseHandle(processes[i]);
        EXPECT_EQ(code, 0u) << "run " << i;
        expectExtracted(base + std::to_wstring(i) + L"\\");
    }
    EXPECT_EQ(temporaryFolderNames(), before) << "every private folder is removed";
}

TEST(Relaunch, NoTemporaryFolderIsReported)
{
    std::wstring exe = makeSfx(L"notemp", L"");
    if (HasFatalFailure())
        return;
    std::wstring target = scratchFolder(L"notemp-doel");
    std::wstring environment = environmentWith({{L"TMP", L"C:\\no\\such\\folder"}, {L"TEMP", L"C:\\no\\such\\folder"}});
    RunResult run = runUnattended(exe, L" /AUTO " + quote(target + L"x"), L"", environment);
    ASSERT_NO_FATAL_FAILURE(expectOnlyBox(
        run, L"Kan geen tijdelijke kopie van dit zelfuitpakkende bestand maken of starten. Mogelijke "
             L"oorzaak: de map voor tijdelijke bestanden (TMP of TEMP) ontbreekt of de schijf is vol.",
        1));
    EXPECT_EQ(run.processesNamed(L"setup.exe"), 1) << narrow(run.describe());
    EXPECT_FALSE(exists(target + L"x")) << "nothing runs without a private copy";
}

// A run whose dialog cannot be made (here: an owner that is no window) extracts nothing and fails.
TEST(Startup, DialogThatCannotBeMadeIsAFailure)
{
    std::wstring exe = makeSfx(L"nowindow", L"");
    if (HasFatalFailure())
        return;
    std::wstring target = scratchFolder(L"nowindow-doel");
    RunResult run = runUnattended(exe, L" -parent=1 /AUTO " + quote(target + L"x"), L"");
    ASSERT_NO_FATAL_FAILURE(expectOnlyBox(
        run, L"Kan het venster van dit zelfuitpakkende bestand niet openen. Er is niets uitgepakt.", 1));
    EXPECT_FALSE(exists(target + L"x\\readme.txt"));
}

TEST(Startup, SignedFileStillChecksOut)
{
    std::wstring signedExe = buildProgram(L"fixtures\\signed.exe");
    ASSERT_TRUE(exists(signedExe)) << "made by the signing fixture step";
    std::vector<uint8_t> file = readWhole(signedExe);
    uint32_t peOffset = le32(file, 0x3C);
    EXPECT_NE(le32(file, peOffset + 24 + 96 + 4 * 8), 0u) << "the file carries a certificate table";
    std::wstring dir = scratchFolder(L"signed");
    ASSERT_NO_FATAL_FAILURE(writeWhole(dir + L"setup.exe", file));
    RunResult run = runProgram(dir + L"setup.exe", L"");
    EXPECT_NE(mainDialog(run), nullptr) << narrow(run.describe());
    EXPECT_EQ(firstBox(run), nullptr) << narrow(run.describe());
}

} // namespace
