// The user interface of real self-extracting files under Wine, driven like a user: the main dialog's
// commands, automatic mode, the meter and its timer, the password dialog, the target folder rules and the
// archiver button. Child roles run single stub operations (the password prompt, runArchiver) inside this
// program with the stub's resources.
#include <gtest/gtest.h>

#include <string>

#include "decode/password.h"
#include "launch/archiver.h"
#include "startup/payload_format.h"
#include "startup/sfxhead.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {

const std::wstring kCaption = L"Arklet Self-Extractor";
const std::wstring kArchiverMissing =
    L"Arklet is niet gevonden op deze computer.\n\nArklet is een programma om Zip files te maken, te bekijken "
    L"en uit te pakken. U kunt het downloaden van de website van Arklet Computing.";

enum : int { ID_INTRO = 101, ID_OVERWRITE = 102, ID_HELP = 104, ID_FOLDER = 106, ID_STATUS = 109,
             ID_HIDDEN_CHECK = 111, ID_ABOUT = 112, ID_ARCHIVER = 113, ID_BROWSE = 115, ID_METER = 201,
             ID_PASSWORD = 402 };

// Two small files.
std::wstring smallPayload()
{
    static std::wstring folder;
    if (folder.empty()) {
        folder = scratchFolder(L"ui-payload");
        writeText(folder + L"readme.txt", "Hallo wereld\r\n");
        CreateDirectoryW((folder + L"sub").c_str(), nullptr);
        writeText(folder + L"sub\\data.bin", std::string(5000, 'x'));
    }
    return folder;
}

std::wstring makeSfx(const std::wstring& folderName, const std::wstring& exeName, const std::wstring& options,
                     const std::wstring& payload = smallPayload())
{
    std::wstring exe = scratchFolder(folderName) + exeName;
    buildSfx(options + L" -o " + quote(exe) + L" " + quote(payload));
    return exe;
}

std::wstring textOf(HWND dialog, int id)
{
    wchar_t buffer[1024] = L"";
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, 1024, (LPARAM)buffer, SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

void setText(HWND dialog, int id, const std::wstring& text)
{
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
}

bool shown(HWND dialog, int id)
{
    return IsWindowVisible(GetDlgItem(dialog, id)) != 0;
}

void post(HWND window, int command)
{
    PostMessageW(window, WM_COMMAND, command, 0);
}

bool isMainDialog(const SeenWindow& w) { return w.hasControl(ID_FOLDER); }
bool isPasswordDialog(const SeenWindow& w) { return w.hasControl(ID_PASSWORD); }
bool isOverwritePrompt(const SeenWindow& w) { return w.isMessageBox() && w.buttons().size() == 3; }

int countBoxes(const RunResult& run)
{
    int n = 0;
    for (const auto& w : run.seen)
        n += w.isMessageBox();
    return n;
}

std::wstring withoutBackslash(const std::wstring& folder)
{
    return folder.substr(0, folder.size() - 1);
}

// The stand-in archiver runs on after the stub has ended: wait for its record.
std::string waitForText(const std::wstring& path)
{
    for (int i = 0; i < 100 && !exists(path); i++)
        Sleep(50);
    Sleep(50);
    std::vector<uint8_t> bytes = readWhole(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string readText(const std::wstring& path)
{
    std::vector<uint8_t> bytes = readWhole(path);
    return std::string(bytes.begin(), bytes.end());
}

// ---- Main dialog ----

TEST(MainDialog, OpensWithItsNameTitleAndFolder)
{
    const std::wstring intro = L"Klik op de knop Uitpakken om alle bestanden in %s in de opgegeven map uit te pakken.";
    auto introWith = [&](const std::wstring& name) {
        std::wstring t = intro;
        return t.replace(t.find(L"%s"), 2, name);
    };
    struct Case {
        const wchar_t* exeName;
        const wchar_t* options;
        std::wstring caption;
        std::wstring introName;
        bool overwrite;
    } cases[] = {
        {L"setup.exe", L"--folder .", L"Arklet Self-Extractor - setup.exe", L"setup.exe", false},
        {L"abcdefghijklmnopqrst.exe", L"--folder . --overwrite",
         L"Arklet Self-Extractor - abcdefghijklmnopqrst.exe", L"abcdefghijklmnopqrst.exe", true},
        {L"abcdefghijklmnopqrstu.exe", L"--folder .", L"Arklet Self-Extractor - abcdefghijklmnopqrstu.exe",
         L"dit zelfuitpakkende bestand", false},
        {L"setup.exe", L"--folder . --setup-title", L"Setup", L"setup.exe", false},
        {L"setup.exe", L"--folder . --setup-title --caption \"Mijn installatie\"", L"Mijn installatie",
         L"setup.exe", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.exeName) + " " + narrow(c.options));
        std::wstring exe = makeSfx(L"ui-title" + std::to_wstring(n++), c.exeName, c.options);
        if (HasFatalFailure())
            return;
        std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
        bool checked = false;
        RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
            if (isMainDialog(w)) {
                checked = true;
                EXPECT_EQ(w.caption, c.caption);
                EXPECT_EQ(w.controlText(ID_INTRO), introWith(c.introName));
                EXPECT_EQ(w.controlText(ID_FOLDER), folder) << "\".\" is the started file's folder, not the copy's";
                EXPECT_EQ(SendMessageW(GetDlgItem(h, ID_OVERWRITE), BM_GETCHECK, 0, 0) == BST_CHECKED, c.overwrite);
                EXPECT_FALSE(shown(h, ID_HIDDEN_CHECK));
                EXPECT_FALSE(shown(h, ID_METER));
                EXPECT_TRUE(shown(h, ID_STATUS));
                EXPECT_EQ(w.controlText(ID_STATUS), L"");
            }
            return defaultAnswer(w, h);
        });
        EXPECT_TRUE(checked) << narrow(run.describe());
        EXPECT_EQ(run.seen.size(), 1u) << narrow(run.describe());
    }
}

TEST(MainDialog, HelpAboutBrowseAndClose)
{
    std::wstring exe = makeSfx(L"ui-commands", L"setup.exe", L"--folder C:\\Doel");
    if (HasFatalFailure())
        return;
    HWND main = nullptr;
    int step = 0;
    bool browserChecked = false;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            main = h;
            return ID_HELP;
        }
        if (w.isMessageBox()) {
            EXPECT_EQ(w.caption, kCaption);
            EXPECT_EQ(w.buttons(), std::vector<int>{IDOK}) << narrow(w.text);
            EXPECT_EQ(GetWindow(h, GW_OWNER), main) << "boxes are owned by the main dialog";
            if (step == 0)
                EXPECT_EQ(w.text.find(L"Klik op de knop 'Uitpakken' om alle bestanden in setup.exe uit te pakken."),
                          0u) << narrow(w.text);
            if (step == 1)
                EXPECT_NE(w.text.find(L"16142"), std::wstring::npos) << narrow(w.text);
            post(main, step == 0 ? ID_ABOUT : ID_BROWSE);
            step++;
            return IDOK;
        }
        // The shell's folder browser: our title, no help button; Cancel changes nothing.
        browserChecked = true;
        bool titled = false;
        for (const auto& c : w.controls)
            titled = titled || c.text == L"Uitpakken in map:";
        EXPECT_TRUE(titled);
        EXPECT_EQ(GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_CONTEXTHELP, 0);
        EXPECT_EQ(GetWindowLongW(h, GWL_STYLE) & DS_CONTEXTHELP, 0);
        PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
        Sleep(200);
        EXPECT_EQ(textOf(main, ID_FOLDER), L"C:\\Doel");
        post(main, IDCANCEL);
        return 0;
    });
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(step, 2) << narrow(run.describe());
    EXPECT_TRUE(browserChecked) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u);
}

TEST(MainDialog, UnzipReportsTheCountThenEnterMeansClose)
{
    std::wstring exe = makeSfx(L"ui-unzip", L"setup.exe", L"");
    if (HasFatalFailure())
        return;
    std::wstring target = scratchFolder(L"ui-unzip-target");
    HWND main = nullptr;
    int boxes = 0;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            main = h;
            setText(h, ID_FOLDER, target);
            return IDOK;
        }
        if (w.isMessageBox() && boxes++ == 0) {
            EXPECT_EQ(w.text, L"Uitpakken van 2 bestand(en) geslaagd");
            // After the box: the status line keeps the text, Close is the default, Unzip is enabled again.
            PostMessageW(h, WM_COMMAND, IDOK, 0);
            Sleep(300);
            EXPECT_EQ(textOf(main, ID_STATUS), L"Uitpakken van 2 bestand(en) geslaagd");
            EXPECT_EQ(LOWORD(SendMessageW(main, DM_GETDEFID, 0, 0)), IDCANCEL);
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDOK)));
            HWND field = GetDlgItem(main, ID_FOLDER);
            PostMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
            PostMessageW(field, WM_KEYUP, VK_RETURN, 0xC0000000);
            return 0;
        }
        return defaultAnswer(w, h);
    });
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(boxes, 1) << "Enter closed the dialog instead of extracting again\n" << narrow(run.describe());
    EXPECT_TRUE(exists(target + L"sub\\data.bin"));
}

TEST(MainDialog, EmptyFolderIsRefused)
{
    std::wstring exe = makeSfx(L"ui-empty-folder", L"setup.exe", L"");
    if (HasFatalFailure())
        return;
    HWND main = nullptr;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            main = h;
            setText(h, ID_FOLDER, L"");
            return IDOK;
        }
        EXPECT_EQ(w.text, L"Geen map opgegeven.");
        PostMessageW(h, WM_COMMAND, IDOK, 0);
        Sleep(200);
        EXPECT_TRUE(IsWindowVisible(main)) << "the dialog stays";
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main, IDOK)));
        post(main, IDCANCEL);
        return 0;
    });
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(countBoxes(run), 1) << narrow(run.describe());
}

// ---- Automatic mode ----

TEST(AutomaticMode, SuccessClosesWithoutABox)
{
    std::wstring target = scratchFolder(L"ui-auto-target");
    std::wstring exe = makeSfx(L"ui-auto", L"setup.exe", L"--auto --folder " + quote(withoutBackslash(target)));
    if (HasFatalFailure())
        return;
    RunResult run = runProgram(exe, L"", [](const SeenWindow&, HWND) { return 0; });
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(countBoxes(run), 0) << narrow(run.describe());
    EXPECT_TRUE(exists(target + L"readme.txt"));
}

TEST(AutomaticMode, CancelledPasswordLeavesTheDialogOpen)
{
    std::wstring target = scratchFolder(L"ui-auto-password-target");
    std::wstring exe = makeSfx(L"ui-auto-password", L"setup.exe",
                               L"--auto --encrypt geheim --folder " + quote(withoutBackslash(target)));
    if (HasFatalFailure())
        return;
    HWND main = nullptr, password = nullptr;
    bool stayed = false;
    // The two dialogs may be found in either order; whichever comes second waits for the password dialog
    // to close and then looks at the main dialog.
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w))
            main = h;
        if (isPasswordDialog(w)) {
            password = h;
            PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
        }
        if (main && password) {
            for (DWORD start = GetTickCount(); IsWindow(password) && GetTickCount() - start < 10000;)
                Sleep(10);
            for (DWORD start = GetTickCount();
                 !IsWindowEnabled(GetDlgItem(main, IDOK)) && GetTickCount() - start < 10000;)
                Sleep(10);
            stayed = IsWindowVisible(main) && IsWindowEnabled(GetDlgItem(main, IDOK));
            post(main, IDCANCEL);
        }
        return 0;
    });
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_TRUE(stayed) << narrow(run.describe());
    EXPECT_FALSE(exists(target + L"readme.txt"));
    EXPECT_EQ(run.exitCode, 2u) << "unattended, a cancelled password stops the work";
}

// ---- Meter ----

// a1.txt and a2.txt come first and already exist in the target, so their overwrite prompts open before the
// first timer tick; b comes next and c.txt, which exists too, is asked about last. For the meter shown at
// once b is b.bin, incompressible (stored, it puts the end record past 512 KiB). For the timer it is the
// folder b of 10,000 small files, so that the first tick after the prompts close comes while they are
// written: under Wine each file costs a tenth of a millisecond or more however fast the data flows, more
// than a second for them all, twice the timer's period (a large file is no good here: it is written at
// hundreds of MB/s).
std::wstring meterPayload(bool forTimer)
{
    std::wstring folder = scratchFolder(forTimer ? L"ui-meter-payload-timer" : L"ui-meter-payload");
    writeText(folder + L"a1.txt", "eerste");
    writeText(folder + L"a2.txt", "tweede");
    if (forTimer) {
        CreateDirectoryW((folder + L"b").c_str(), nullptr);
        for (int d = 0; d < 40; d++) {
            std::wstring sub = folder + L"b\\" + std::to_wstring(10 + d) + L"\\";
            CreateDirectoryW(sub.c_str(), nullptr);
            for (int f = 0; f < 250; f++)
                writeText(sub + std::to_wstring(100 + f), "x");
        }
    } else {
        std::string big(700 * 1024, '\0');
        uint32_t x = 12345; // fixed seed
        for (char& c : big) {
            x = x * 1103515245u + 12345u;
            c = (char)(x >> 24);
        }
        writeText(folder + L"b.bin", big);
    }
    writeText(folder + L"c.txt", "laatste");
    return folder;
}

struct MeterSighting {
    std::wstring file;
    bool meter;
    bool status;
};

// Runs exe into a target holding the three small files, answers Yes to every prompt after holding the
// first two open for waitMs, and records whether the meter was shown at each prompt and, last, at the
// success box.
std::vector<MeterSighting> watchMeter(const std::wstring& exe, const std::wstring& targetName, DWORD waitMs)
{
    std::wstring target = scratchFolder(targetName);
    std::vector<MeterSighting> seen;
    for (const wchar_t* name : {L"a1.txt", L"a2.txt", L"c.txt"})
        writeText(target + name, "oud");
    if (::testing::Test::HasFatalFailure())
        return seen; // the caller ends its test
    HWND main = nullptr;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            main = h;
            setText(h, ID_FOLDER, target);
            return IDOK;
        }
        if (isOverwritePrompt(w)) {
            if (seen.size() < 2)
                Sleep(waitMs); // timer ticks arrive while the prompt is open
            seen.push_back({w.text, shown(main, ID_METER), shown(main, ID_STATUS)});
            return IDYES;
        }
        if (w.isMessageBox()) { // the success box
            seen.push_back({w.text, shown(main, ID_METER), shown(main, ID_STATUS)});
            post(main, IDCANCEL);
        }
        return defaultAnswer(w, h);
    }, 180000); // a safety net only: writing 10,000 files on a loaded machine takes its time
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(readText(target + L"c.txt"), "laatste");
    return seen;
}

TEST(Meter, ShownAtOnceForAFarEndRecord)
{
    std::wstring exe = makeSfx(L"ui-meter-at-once", L"setup.exe", L"--store", meterPayload(false));
    if (HasFatalFailure())
        return;
    std::vector<uint8_t> file = readWhole(exe);
    ASSERT_GE(le32(file, blockOffset(file) + 20), 0x80000u) << "the fixture's end record lies far enough in";
    std::vector<MeterSighting> seen = watchMeter(exe, L"ui-meter-at-once-target", 0);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(seen.size(), 4u);
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(seen[i].meter) << narrow(seen[i].file);
        EXPECT_FALSE(seen[i].status) << narrow(seen[i].file);
    }
    EXPECT_EQ(seen[3].file, L"Uitpakken van 4 bestand(en) geslaagd");
    EXPECT_FALSE(seen[3].meter) << "the meter is hidden after the run";
    EXPECT_TRUE(seen[3].status) << "the status line, which shares its place, shows the result";
}

TEST(Meter, ShownByTheTimerOnceNoPromptIsOpen)
{
    std::wstring exe = makeSfx(L"ui-meter-timer", L"setup.exe", L"--crc none", meterPayload(true));
    if (HasFatalFailure())
        return;
    std::vector<uint8_t> file = readWhole(exe);
    // So many entries put the end record past 512 KiB; with its offset at 0 the meter waits for the timer
    // (and nothing looks for the end record at start-up).
    putLe32(file, blockOffset(file) + 20, 0);
    // A total far beyond what is written keeps every tick under the one-third mark, however late the
    // first tick after the prompts comes on a busy machine: the test is about the timer, not the mark.
    putLe32(file, blockOffset(file) + 24, 0xF0000000u);
    ASSERT_NO_FATAL_FAILURE(writeWhole(exe, file));
    std::vector<MeterSighting> seen = watchMeter(exe, L"ui-meter-timer-target", 1300);
    if (HasFatalFailure())
        return;
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_NE(seen[0].file.find(L"a1.txt"), std::wstring::npos) << narrow(seen[0].file);
    EXPECT_FALSE(seen[0].meter) << "ticks during an open prompt do nothing";
    EXPECT_TRUE(seen[0].status);
    EXPECT_FALSE(seen[1].meter) << "ticks during an open prompt do nothing";
    EXPECT_NE(seen[2].file.find(L"c.txt"), std::wstring::npos) << narrow(seen[2].file);
    EXPECT_TRUE(seen[2].meter) << "the timer kept running and a later tick showed the meter";
    EXPECT_FALSE(seen[2].status);
    scratchFolder(L"ui-meter-payload-timer");
    scratchFolder(L"ui-meter-timer-target");
}

// ---- Status line ----

// Forty small entries go by faster than the status line may change; the two that bring the overwrite
// question are named there all the same before their question appears. The total in the parameter block
// is set to 0 so that no timer tick puts the meter in the status line's place.
TEST(StatusLine, NamesTheEntryOfEachOverwriteQuestion)
{
    std::wstring payload = scratchFolder(L"ui-status-payload");
    for (int i = 100; i < 140; i++) {
        ASSERT_NO_FATAL_FAILURE(writeText(payload + L"a" + std::to_wstring(i) + L".txt", "klein"));
    }
    for (const wchar_t* name : {L"b.txt", L"c.txt", L"d.txt"}) {
        ASSERT_NO_FATAL_FAILURE(writeText(payload + name, "nieuw"));
    }
    std::wstring exe = makeSfx(L"ui-status", L"setup.exe", L"--crc none", payload);
    if (HasFatalFailure())
        return;
    std::vector<uint8_t> file = readWhole(exe);
    putLe32(file, blockOffset(file) + 24, 0);
    ASSERT_NO_FATAL_FAILURE(writeWhole(exe, file));
    std::wstring target = scratchFolder(L"ui-status-target");
    for (const wchar_t* name : {L"b.txt", L"c.txt"}) {
        ASSERT_NO_FATAL_FAILURE(writeText(target + name, "oud"));
    }

    struct Sighting {
        std::wstring question, status;
        bool meter;
    };
    std::vector<Sighting> seen;
    HWND main = nullptr;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            main = h;
            setText(h, ID_FOLDER, target);
            return IDOK;
        }
        if (isOverwritePrompt(w)) {
            seen.push_back({w.text, textOf(main, ID_STATUS), shown(main, ID_METER)});
            return seen.size() == 1 ? IDYES : IDNO;
        }
        if (w.isMessageBox()) // the success box
            post(main, IDCANCEL);
        return defaultAnswer(w, h);
    });
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    ASSERT_EQ(seen.size(), 2u) << narrow(run.describe());
    const wchar_t* names[] = {L"b.txt", L"c.txt"};
    for (int i = 0; i < 2; i++) {
        EXPECT_NE(seen[i].question.find(names[i]), std::wstring::npos) << narrow(seen[i].question);
        EXPECT_EQ(seen[i].status, std::wstring(L"Bezig met uitpakken van ") + names[i]);
        EXPECT_FALSE(seen[i].meter);
    }
    EXPECT_EQ(readText(target + L"b.txt"), "nieuw");
    EXPECT_EQ(readText(target + L"c.txt"), "oud");
    EXPECT_EQ(readText(target + L"d.txt"), "nieuw");
}

// ---- Password dialog ----

TEST(PasswordDialog, LongPasswordEmptyOkAndASecondStart)
{
    std::string password(254, 'p');
    password[0] = 'Q';
    password[253] = 'Z';
    std::wstring target = scratchFolder(L"ui-password-target");
    std::wstring exe = makeSfx(L"ui-password", L"setup.exe",
                               L"--encrypt " + std::wstring(password.begin(), password.end()) + L" --folder "
                                   + quote(withoutBackslash(target)));
    if (HasFatalFailure())
        return;
    HWND main = nullptr;
    int dialogs = 0, successes = 0;
    bool emptyOkKeptItOpen = false;
    std::wstring secondField = L"(not seen)";
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            main = h;
            return IDOK;
        }
        if (isPasswordDialog(w)) {
            EXPECT_EQ(w.caption, L"Arklet Self-Extractor - Wachtwoord");
            if (++dialogs == 1) {
                PostMessageW(h, WM_COMMAND, IDOK, 0);
                Sleep(300);
                emptyOkKeptItOpen = IsWindowVisible(h) != 0;
                // Typing beyond 254 characters: the fetch keeps the first 254.
                setText(h, ID_PASSWORD, std::wstring(password.begin(), password.end()) + L"extra");
                return IDOK;
            }
            secondField = textOf(h, ID_PASSWORD);
            PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
            Sleep(300);
            EXPECT_TRUE(IsWindowVisible(main)) << "a cancelled start leaves the dialog open";
            post(main, IDCANCEL);
            return 0;
        }
        if (w.isMessageBox() && w.text.find(L"geslaagd") != std::wstring::npos) {
            successes++;
            PostMessageW(h, WM_COMMAND, IDOK, 0);
            Sleep(200);
            post(main, IDOK); // a second start
            return 0;
        }
        if (w.isMessageBox())
            return IDOK;
        return 0;
    }, 30000);
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_TRUE(emptyOkKeptItOpen);
    EXPECT_EQ(successes, 1) << narrow(run.describe());
    EXPECT_EQ(dialogs, 2) << narrow(run.describe());
    EXPECT_EQ(secondField, L"") << "each start shows an empty field";
    EXPECT_EQ(readText(target + L"readme.txt"), "Hallo wereld\r\n");
}

TEST(PasswordDialog, CancelKeepsTheEarlierPassword)
{
    std::wstring self = buildProgram(L"ui_test.exe");
    std::wstring report = self + L".password.txt";
    struct Case {
        const char* what;
        std::wstring typed; // empty: nothing typed
        int button;
        std::string stored;
    } cases[] = {
        {"cancel", L"", IDCANCEL, "eerder"},
        {"cancel after typing", L"nieuw", IDCANCEL, "eerder"},
        {"ok", L"nieuw", IDOK, "nieuw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(report.c_str());
        bool emptyField = false;
        RunResult run = runProgram(self, L" --child=password", [&](const SeenWindow& w, HWND h) -> int {
            if (!isPasswordDialog(w))
                return defaultAnswer(w, h);
            emptyField = textOf(h, ID_PASSWORD).empty();
            if (!c.typed.empty())
                setText(h, ID_PASSWORD, c.typed);
            return c.button;
        });
        EXPECT_TRUE(emptyField);
        EXPECT_EQ(run.exitCode, c.button == IDOK ? 1u : 0u) << narrow(run.describe());
        EXPECT_EQ(readText(report), c.stored);
    }
}

// ---- Target folder ----

std::wstring shownFolder(const std::wstring& exe, const std::wstring& environment, std::wstring* box = nullptr)
{
    std::wstring folder = L"(no dialog)";
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w))
            folder = w.controlText(ID_FOLDER);
        if (w.isMessageBox() && box)
            *box = w.text;
        return defaultAnswer(w, h);
    }, 30000, L"", environment);
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    return folder;
}

TEST(TargetFolder, TmpTempAndTheWindowsTempFolder)
{
    std::wstring exe = makeSfx(L"ui-folder", L"setup.exe", L"");
    if (HasFatalFailure())
        return;
    std::wstring tmp = scratchFolder(L"ui-folder-tmp");
    std::wstring temp = scratchFolder(L"ui-folder-temp");
    struct Case {
        const char* what;
        std::vector<EnvironmentChange> changes;
        std::wstring folder;
    } cases[] = {
        {"TMP with a trailing backslash", {{L"TMP", tmp.c_str()}, {L"TEMP", temp.c_str()}}, withoutBackslash(tmp)},
        {"TMP empty", {{L"TMP", L""}, {L"TEMP", temp.c_str()}}, withoutBackslash(temp)},
        {"TMP unset", {{L"TMP", nullptr}, {L"TEMP", temp.c_str()}}, withoutBackslash(temp)},
        {"drive root", {{L"TMP", L"C:\\"}, {L"TEMP", nullptr}}, L"C:\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shownFolder(exe, environmentWith(c.changes)), c.folder) << c.what;
}

// Moves C:\windows\temp aside for one test and puts it back afterwards.
struct WindowsTempAside {
    std::wstring path, saved;
    WindowsTempAside()
    {
        wchar_t windows[MAX_PATH];
        GetWindowsDirectoryW(windows, MAX_PATH);
        path = std::wstring(windows) + L"\\TEMP";
        saved = path + L"-aksfx-saved";
        moved = MoveFileW(path.c_str(), saved.c_str()) != 0;
    }
    ~WindowsTempAside()
    {
        DeleteFileW(path.c_str());
        RemoveDirectoryW(path.c_str());
        if (moved)
            MoveFileW(saved.c_str(), path.c_str());
    }
    bool moved;
};

TEST(TargetFolder, WithoutTmpAndTempTheWindowsTempFolderIsUsed)
{
    std::wstring exe = makeSfx(L"ui-folder-windows", L"setup.exe", L"");
    if (HasFatalFailure())
        return;
    std::wstring environment = environmentWith({{L"TMP", nullptr}, {L"TEMP", nullptr}});
    WindowsTempAside aside;
    ASSERT_TRUE(aside.moved);
    // Missing: created.
    EXPECT_EQ(shownFolder(exe, environment), aside.path);
    DWORD attributes = GetFileAttributesW(aside.path.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    RemoveDirectoryW(aside.path.c_str());
    // A file of that name: the field stays empty, and in automatic mode Unzip refuses and the dialog stays.
    ASSERT_NO_FATAL_FAILURE(writeText(aside.path, "kein ordner"));
    EXPECT_EQ(shownFolder(exe, environment), L"");
    std::wstring autoExe = makeSfx(L"ui-folder-windows-auto", L"setup.exe", L"--auto");
    if (HasFatalFailure())
        return;
    std::wstring box;
    EXPECT_EQ(shownFolder(autoExe, environment, &box), L"");
    EXPECT_EQ(box, L"Geen map opgegeven.");
}

// ---- Archiver ----

// Registry values written for one test and removed afterwards.
struct RegistryEntries {
    std::vector<std::pair<HKEY, std::wstring>> created;
    // owned: the key that goes again afterwards, with everything below it.
    void set(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value,
             const std::wstring& owned = L"")
    {
        HKEY h;
        ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), 0L)
            << narrow(key);
        RegSetValueExW(h, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)(value.size() + 1) * 2);
        RegCloseKey(h);
        created.push_back({root, owned.empty() ? key.substr(0, key.find(L'\\')) : owned});
    }
    ~RegistryEntries()
    {
        for (auto& [root, key] : created)
            RegDeleteTreeW(root, key.c_str());
    }
};

const wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ArkletUWPHelper.exe";

// The stand-in archiver and helper, copied into a folder of their own.
std::wstring standIns()
{
    std::wstring tools = scratchFolder(L"ui-archiver-tools");
    CopyFileW(buildProgram(L"record_command_line.exe").c_str(), (tools + L"arklet.exe").c_str(), FALSE);
    CopyFileW(buildProgram(L"record_command_line.exe").c_str(), (tools + L"ArkletUWPHelper.exe").c_str(), FALSE);
    return tools;
}

TEST(Archiver, ClassicAndPackagedReceiveTheStartedFile)
{
    std::wstring tools = standIns();
    std::wstring exe = makeSfx(L"ui-archiver", L"Mijn archief.exe", L"");
    if (HasFatalFailure())
        return;
    std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
    const std::string delimiter = "{6A41C9E2-57B3-4D08-9F1E-2C8B0D7A3E55}";
    struct Case {
        const char* what;
        bool classic, packaged;
        std::wstring recorder;
        std::string parameters;
    } cases[] = {
        {"classic", true, false, L"arklet.exe", "\"" + narrow(exe) + "\""},
        {"packaged", false, true, L"ArkletUWPHelper.exe",
         "RunExe" + delimiter + "Arklet\\arklet.exe" + delimiter + "\"" + narrow(exe) + "\""},
        {"both: the classic one wins", true, true, L"arklet.exe", "\"" + narrow(exe) + "\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW((tools + L"arklet.exe.txt").c_str());
        DeleteFileW((tools + L"ArkletUWPHelper.exe.txt").c_str());
        RegistryEntries registry;
        if (c.classic)
            registry.set(HKEY_CLASSES_ROOT, L"arklet\\shell\\open\\command", nullptr,
                         L"\"" + tools + L"arklet.exe\" \"%1\"");
        if (c.packaged) {
            // Skipped: a name of just "AppX", a ProgID of another maker; taken: the third, in any case.
            for (const wchar_t* name : {L"AppX", L"AppXother1", L"appxArklet7"})
                registry.set(HKEY_CLASSES_ROOT, L".akcloud\\OpenWithProgids", name, L"");
            registry.set(HKEY_CLASSES_ROOT, L"AppX\\Application", L"AppUserModelID", L"ArkletComputing.Wrong!App");
            registry.set(HKEY_CLASSES_ROOT, L"AppX\\Shell\\open", L"PackageRelativeExecutable", L"wrong.exe");
            registry.set(HKEY_CLASSES_ROOT, L"AppXother1\\Application", L"AppUserModelID", L"Other.Maker!App");
            registry.set(HKEY_CLASSES_ROOT, L"AppXother1\\Shell\\open", L"PackageRelativeExecutable", L"o.exe");
            registry.set(HKEY_CLASSES_ROOT, L"appxArklet7\\Application", L"AppUserModelID",
                         L"arkletcomputing.Arklet_abc!App");
            registry.set(HKEY_CLASSES_ROOT, L"appxArklet7\\Shell\\open", L"PackageRelativeExecutable",
                         L"Arklet\\arklet.exe");
            registry.set(HKEY_LOCAL_MACHINE, kAppPaths, nullptr, tools + L"ArkletUWPHelper.exe", kAppPaths);
        }
        RunResult run = runProgram(exe, L"", [](const SeenWindow& w, HWND h) -> int {
            return isMainDialog(w) ? ID_ARCHIVER : defaultAnswer(w, h);
        });
        EXPECT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.seen.size(), 1u) << "the dialog ends without a box\n" << narrow(run.describe());
        std::string recorded = waitForText(tools + c.recorder + L".txt");
        ASSERT_FALSE(recorded.empty()) << narrow(run.describe());
        std::string commandLine = recorded.substr(0, recorded.find('\n'));
        std::string directory = recorded.substr(recorded.find('\n') + 1);
        size_t at = commandLine.find(c.parameters);
        EXPECT_NE(at, std::string::npos) << commandLine;
        if (at != std::string::npos)
            EXPECT_EQ(commandLine.substr(at), c.parameters) << "the parameters end the command line";
        EXPECT_EQ(directory, narrow(folder) + "\n") << "started in the archive's folder";
    }
}

// The helper runs in the started file's folder; a file of its name put there must never run. Only the full
// path registered under App Paths (machine-wide, else for the user) is started.
TEST(Archiver, HelperOnlyByItsRegisteredFullPath)
{
    std::wstring tools = standIns();
    std::wstring exe = makeSfx(L"ui-archiver-planted", L"setup.exe", L"");
    if (HasFatalFailure())
        return;
    std::wstring planted = exe.substr(0, exe.rfind(L'\\') + 1) + L"ArkletUWPHelper.exe";
    ASSERT_TRUE(CopyFileW(buildProgram(L"record_command_line.exe").c_str(), planted.c_str(), FALSE));
    const std::wstring helper = tools + L"ArkletUWPHelper.exe";
    struct Case {
        const char* what;
        HKEY root; // where the helper's path is registered; null: nowhere
        std::wstring value;
        bool runs; // the registered helper runs; otherwise message 1038
    } cases[] = {
        {"nothing registered", nullptr, L"", false},
        {"registered for the machine", HKEY_LOCAL_MACHINE, helper, true},
        {"registered for the user, quoted", HKEY_CURRENT_USER, L"\"" + helper + L"\"", true},
        {"a bare name", HKEY_LOCAL_MACHINE, L"ArkletUWPHelper.exe", false},
        {"a file that is not there", HKEY_LOCAL_MACHINE, tools + L"missing.exe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW((helper + L".txt").c_str());
        DeleteFileW((planted + L".txt").c_str());
        RegistryEntries registry;
        registry.set(HKEY_CLASSES_ROOT, L".akcloud\\OpenWithProgids", L"AppXArklet1", L"");
        registry.set(HKEY_CLASSES_ROOT, L"AppXArklet1\\Application", L"AppUserModelID",
                     L"ArkletComputing.Arklet_abc!App");
        registry.set(HKEY_CLASSES_ROOT, L"AppXArklet1\\Shell\\open", L"PackageRelativeExecutable",
                     L"Arklet\\arklet.exe");
        if (c.root)
            registry.set(c.root, kAppPaths, nullptr, c.value, kAppPaths);
        HWND main = nullptr;
        RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
            if (isMainDialog(w)) {
                main = h;
                return ID_ARCHIVER;
            }
            // Message 1038 is closed, then the dialog, which stays: both requests wait in its queue in turn.
            EXPECT_EQ(w.text, kArchiverMissing);
            PostMessageW(h, WM_COMMAND, IDOK, 0);
            post(main, IDCANCEL);
            return 0;
        });
        EXPECT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(countBoxes(run), c.runs ? 0 : 1) << narrow(run.describe());
        if (c.runs)
            EXPECT_NE(waitForText(helper + L".txt").find("RunExe"), std::string::npos) << narrow(run.describe());
        EXPECT_FALSE(exists(planted + L".txt")) << "the file beside the started one ran";
    }
}

TEST(Archiver, NotInstalledShowsTheMessageAndTheDialogStays)
{
    std::wstring exe = makeSfx(L"ui-archiver-missing", L"setup.exe", L"");
    if (HasFatalFailure())
        return;
    HWND main = nullptr;
    RunResult run = runProgram(exe, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            main = h;
            return ID_ARCHIVER;
        }
        EXPECT_EQ(w.text, kArchiverMissing);
        EXPECT_EQ(w.buttons(), std::vector<int>{IDOK});
        PostMessageW(h, WM_COMMAND, IDOK, 0);
        Sleep(200);
        EXPECT_TRUE(IsWindowVisible(main));
        post(main, IDCANCEL);
        return 0;
    });
    EXPECT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(countBoxes(run), 1) << narrow(run.describe());
}

TEST(Archiver, ShiftHeldAndSpannedSets)
{
    // runArchiver inside this program (no private copy: the path is programPath as it stands).
    std::wstring tools = standIns();
    RegistryEntries registry;
    registry.set(HKEY_CLASSES_ROOT, L"arklet\\shell\\open\\command", nullptr, L"\"" + tools + L"arklet.exe\" \"%1\"");
    std::wstring self = buildProgram(L"ui_test.exe");
    struct Case {
        const char* what;
        const wchar_t* arguments; // shift flags path
        DWORD result;
        const char* parameters;  // null: no archiver started
    } cases[] = {
        {"shift held", L" --child=archiver 1 0 C:\\Set\\Backup.exe", 0, nullptr},
        {"spanned with .ZIP volumes", L" --child=archiver 0 4096 C:\\Set\\Backup.exe", 1, "\"C:\\Set\\Backup.zip\""},
        {"spanned with .EXE volumes", L" --child=archiver 0 36864 C:\\Set\\Backup.exe", 1, "\"C:\\Set\\Backup.exe\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW((tools + L"arklet.exe.txt").c_str());
        RunResult run = runProgram(self, c.arguments);
        EXPECT_EQ(run.exitCode, c.result) << narrow(run.describe());
        std::string recorded = c.parameters ? waitForText(tools + L"arklet.exe.txt") : readText(tools + L"arklet.exe.txt");
        if (!c.parameters) {
            ASSERT_EQ(run.seen.size(), 1u) << narrow(run.describe());
            EXPECT_EQ(run.seen[0].text, kArchiverMissing);
            EXPECT_TRUE(recorded.empty()) << recorded;
        } else {
            EXPECT_EQ(run.seen.size(), 0u) << narrow(run.describe());
            EXPECT_NE(recorded.find(std::string(c.parameters) + "\n"), std::string::npos) << recorded;
        }
    }
}

} // namespace

// Child roles.
static int runChild(const std::string& role, int argc, char** argv)
{
    if (role == "password") {
        // The stored password before: "eerder". Exit code: the dialog's result.
        entryEncrypted = 1;
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
        storedPassword = (char*)GlobalLock(block);
        strcpy(storedPassword, "eerder");
        INT_PTR result = promptForPassword();
        // Report the stored password through a file beside this program for the printing role.
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        writeText(std::wstring(self) + L".password.txt", storedPassword ? storedPassword : "(null)");
        return (int)result;
    }
    if (role == "archiver" && argc > 4) {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_SHIFT] = atoi(argv[2]) ? 0x80 : 0;
        SetKeyboardState(keys);
        parameterBlock.flags = (uint32_t)atoi(argv[3]);
        MultiByteToWideChar(CP_ACP, 0, argv[4], -1, programPath, PATH_UNITS);
        return runArchiver() ? 1 : 0;
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
