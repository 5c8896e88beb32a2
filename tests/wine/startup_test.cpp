// Start-up of real self-extracting files under Wine: integrity checks, options, the start-up message and
// the private relaunch, seen through the windows a user would see.
#include <gtest/gtest.h>

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

void expectOnlyBox(const RunResult& run, const std::wstring& text)
{
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
    ASSERT_EQ(run.seen.size(), 1u) << narrow(run.describe());
    EXPECT_EQ(run.seen[0].caption, kCaption);
    EXPECT_EQ(run.seen[0].text, text);
}

TEST(Startup, SoundFileShowsTheMainDialog)
{
    std::wstring exe = makeSfx(L"sound", L"--folder " + quote(L"C:\\Doel\\"));
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
        std::vector<uint8_t> file = readWhole(exe);
        size_t block = blockOffset(file);
        ASSERT_NE(block, 0u);
        c.damage(file, block);
        writeWhole(exe, file);
        RunResult run = runProgram(exe, L"");
        if (c.message) {
            expectOnlyBox(run, *c.message);
        } else {
            EXPECT_NE(mainDialog(run), nullptr) << narrow(run.describe());
            EXPECT_EQ(firstBox(run), nullptr) << narrow(run.describe());
        }
    }
}

TEST(Startup, InfoOptionShowsTheBuildOptionsAnywhereInTheCommandLine)
{
    std::wstring dir = scratchFolder(L"my-information");
    std::wstring exe = dir + L"setup.exe";
    buildSfx(L"--info \"-win32 -le -overwrite\" -o " + quote(exe) + L" " + quote(payloadFolder()));
    // The folder's name holds "-info"; so does the program's own path on the command line.
    RunResult run = runProgram(exe, L"");
    expectOnlyBox(run, L"-win32 -le -overwrite");
    ASSERT_EQ(run.seen.size(), 1u);
    EXPECT_EQ(run.seen[0].buttons(), std::vector<int>{IDOK});
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
        std::vector<int> buttonsSeen;
        RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) {
            if (w.isMessageBox()) {
                buttonsSeen = w.buttons();
                return c.answer;
            }
            return defaultAnswer(w, h);
        });
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 0u);
        const SeenWindow* box = firstBox(run);
        ASSERT_NE(box, nullptr) << narrow(run.describe());
        EXPECT_EQ(box->caption, L"Mijn titel");
        EXPECT_EQ(box->text, message);
        EXPECT_EQ(buttonsSeen, c.buttons);
        EXPECT_EQ(mainDialog(run) != nullptr, c.dialogFollows) << narrow(run.describe());
    }
}

TEST(Startup, AutoSwitchSetsTheTargetFolder)
{
    std::wstring exe = makeSfx(L"autofolder", L"--folder C:\\Default");
    struct Case {
        const wchar_t* args;
        const wchar_t* folder;
    } cases[] = {
        {L" /auto \"C:\\Met Spatie\\Doel\"", L"C:\\Met Spatie\\Doel"},
        {L" /AUTO -x C:\\Out", L"C:\\Out"},
        {L" /NOAUTO D:\\Ignored", L"C:\\Default"},
        {L" -parent=0 /AUTO D:\\Ignored", L"C:\\Default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.args));
        RunResult run = runProgram(exe, c.args);
        const SeenWindow* dialog = mainDialog(run);
        ASSERT_NE(dialog, nullptr) << narrow(run.describe());
        EXPECT_EQ(dialog->controlText(106), c.folder);
    }
}

TEST(Startup, ParentOptionOwnsTheMainDialog)
{
    std::wstring exe = makeSfx(L"parent", L"");
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

std::wstring imagePathOf(DWORD pid)
{
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h)
        return L"";
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    std::wstring result = QueryFullProcessImageNameW(h, 0, path, &size) ? path : L"";
    CloseHandle(h);
    return result;
}

TEST(Relaunch, WorkHappensInAPrivateCopyThatIsRemovedAfterwards)
{
    std::wstring exe = makeSfx(L"relaunch", L"");
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

TEST(Relaunch, LocalRedirectionEndsTheProgram)
{
    std::wstring exe = makeSfx(L"dotlocal", L"");
    CreateDirectoryW((exe + L".local").c_str(), nullptr);
    RunResult run = runProgram(exe, L"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.seen.empty()) << narrow(run.describe());
}

TEST(Startup, SignedFileStillChecksOut)
{
    std::wstring signedExe = buildProgram(L"fixtures\\signed.exe");
    ASSERT_TRUE(exists(signedExe)) << "made by the signing fixture step";
    std::vector<uint8_t> file = readWhole(signedExe);
    uint32_t peOffset = le32(file, 0x3C);
    EXPECT_NE(le32(file, peOffset + 24 + 96 + 4 * 8), 0u) << "the file carries a certificate table";
    std::wstring dir = scratchFolder(L"signed");
    writeWhole(dir + L"setup.exe", file);
    RunResult run = runProgram(dir + L"setup.exe", L"");
    EXPECT_NE(mainDialog(run), nullptr) << narrow(run.describe());
    EXPECT_EQ(firstBox(run), nullptr) << narrow(run.describe());
}

} // namespace
