// Spanned sets on a removable drive, run for real under Wine.
//
// Drive A: is a folder that Wine treats as a floppy drive (span_drive.sh maps it for this program's run).
// Wine's mount manager reads a drive's label from the folder's .windows-label when the drive is defined and
// keeps it, so "changing the disk" here means: replace the folder's files and that label, then define A:
// again through the mount manager (as winecfg does), which makes Wine read the new label.
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <map>
#include <string>
#include <vector>

#include "archive/volume_rules.h"
#include "archive/volumes.h"
#include "startup/messages.h"
#include "startup/payload.h"
#include "startup/sfxhead.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {

const std::wstring kCaption = L"Arklet Self-Extractor";
const wchar_t kDriveRoot[] = L"A:\\";

std::wstring insertText(int disk) { return L"Plaats schijf " + std::to_wstring(disk) + L" in station A:."; }
std::wstring missingText(int disk)
{
    return L"De schijf in het station blijkt te ontbreken\nof heeft een onjuist label.\nPlaats schijf met nummer "
           + std::to_wstring(disk) + L".";
}
const std::wstring kLastDiskText = L"Plaats laatste schijf van set in station A:.";

// ---- the drive ----

struct Disk {
    std::string label;
    std::map<std::wstring, std::vector<uint8_t>> files;
};
using DiskSet = std::vector<Disk>;

std::string driveUnixFolder()
{
    return std::string(AKSFX_BUILD_DIR) + "/fixtures/span-drive";
}

// A helper whose assertion fails records a fatal failure and returns; its callers pass that on through
// ASSERT_NO_FATAL_FAILURE, and a box answered during a run after such a failure is cancelled (runSet).

// Defines A: again as a removable drive on the same folder: the mount manager then reads the label anew.
void redefineDrive()
{
    ASSERT_TRUE(defineRemovableDrive(L'a', driveUnixFolder())) << "defining A: failed: " << GetLastError();
}

// Empties A: (a file still in use, the started program, is renamed out of the way), writes the disk's
// files and label.
void insertDisk(const Disk& disk)
{
    static int busy = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"A:\\*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            std::wstring path = std::wstring(kDriveRoot) + name;
            if (!DeleteFileW(path.c_str()) && name.compare(0, 6, L"~busy-") != 0)
                MoveFileW(path.c_str(), (std::wstring(kDriveRoot) + L"~busy-" + std::to_wstring(++busy)).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    for (const auto& file : disk.files)
        ASSERT_NO_FATAL_FAILURE(writeWhole(kDriveRoot + file.first, file.second));
    ASSERT_NO_FATAL_FAILURE(writeText(std::wstring(kDriveRoot) + L".windows-label", disk.label));
    ASSERT_NO_FATAL_FAILURE(redefineDrive());
}

Disk labelled(const std::string& label, const Disk& contents = Disk())
{
    Disk d = contents;
    d.label = label;
    return d;
}

// ---- sets ----

// Deterministic bytes that do not compress (a fixed linear congruential sequence).
std::vector<uint8_t> noise(size_t n, uint32_t seed)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = (uint8_t)(seed >> 16);
    }
    return bytes;
}

// What the first disk keeps for the archive beside the program (a little less: the program's header and
// its alignment take some of it).
const size_t kFirstDiskArchive = 20000;

// The room on one disk for the usual sets (--span): the stub under test, whose size differs between
// builds, plus kFirstDiskArchive.
size_t diskRoom()
{
    static const size_t room = readWhole(buildProgram(L"aksfx32.exe")).size() + kFirstDiskArchive;
    return room;
}

std::wstring spanOption()
{
    return L"--span " + std::to_wstring(diskRoom());
}

// The payload: relative Windows name -> bytes, sized from the disk room D so that a set made with
// spanOption() has four disks whatever the stub's size. The first disk holds the start of a.bin, which
// fills the second and ends half-way through the third (at about kFirstDiskArchive + 1.5 D); c.bin
// follows on the third, and d.bin runs on into the fourth.
const std::map<std::wstring, std::vector<uint8_t>>& payload()
{
    static std::map<std::wstring, std::vector<uint8_t>> files = {
        {L"a.bin", noise(kFirstDiskArchive + diskRoom() * 3 / 2, 1)},
        {L"b.txt", std::vector<uint8_t>(100, 'b')},
        {L"c.bin", noise(diskRoom() / 4, 3)},
        {L"sub\\d.bin", noise(diskRoom() / 2, 4)},
    };
    return files;
}

// The payload's folder, written once.
void payloadFolder(std::wstring& folder)
{
    static std::wstring written;
    if (written.empty()) {
        std::wstring made = scratchFolder(L"span-payload");
        CreateDirectoryW((made + L"sub").c_str(), nullptr);
        for (const auto& f : payload())
            ASSERT_NO_FATAL_FAILURE(writeWhole(made + f.first, f.second));
        written = made;
    }
    folder = written;
}

std::wstring diskFolderName(int disk)
{
    wchar_t name[16];
    wsprintfW(name, L"PKBACK# %03d", disk);
    return name;
}

// Builds a set from the payload with --store and reads its disk folders.
void buildSet(const std::wstring& name, const std::wstring& options, DiskSet& set)
{
    std::wstring dir = scratchFolder(name), payloadDir;
    ASSERT_NO_FATAL_FAILURE(payloadFolder(payloadDir));
    ASSERT_NO_FATAL_FAILURE(
        buildSfx(L"--store --info span " + options + L" -o " + quote(dir + L"SETUP.EXE") + L" " + quote(payloadDir)));
    set.clear();
    for (int disk = 1; exists(dir + diskFolderName(disk)); disk++) {
        Disk d;
        d.label = narrow(diskFolderName(disk));
        for (const wchar_t* file : {L"SETUP.EXE", L"SETUP.ZIP"})
            if (exists(dir + diskFolderName(disk) + L"\\" + file))
                d.files[file] = readWhole(dir + diskFolderName(disk) + L"\\" + file);
        set.push_back(d);
    }
    ASSERT_FALSE(set.empty()) << "no disk folder in " << narrow(dir);
}

// ---- runs ----

struct SetRun {
    RunResult run;
    std::vector<std::wstring> prompts; // the texts of the boxes, in order
    std::wstring target;
};

// What a test does with a box: return the button to press, or 0 for the usual answer (a disk prompt: put
// the wanted disk in and press OK or Retry).
using Policy = std::function<int(const SeenWindow&, int promptNumber)>;

int wantedDisk(const std::wstring& text)
{
    size_t at = text.find_last_of(L"0123456789");
    size_t from = at;
    while (from > 0 && iswdigit(text[from - 1]))
        from--;
    return at == std::wstring::npos ? 0 : _wtoi(text.substr(from, at - from + 1).c_str());
}

// Runs the set from A: with /AUTO into a fresh folder (holding prepareTarget, 7 bytes, when given). A
// fatal failure while it runs (a disk that could not be written) cancels the box at hand and every later
// one, so the run ends soon; the caller's ASSERT_NO_FATAL_FAILURE then ends the test.
void runSet(SetRun& r, const std::wstring& name, const DiskSet& set, const Policy& policy = nullptr,
            const std::wstring& prepareTarget = L"")
{
    using ::testing::Test;
    r.target = scratchFolder(name + L"-out");
    if (!prepareTarget.empty()) {
        ASSERT_NO_FATAL_FAILURE(writeWhole(r.target + prepareTarget, std::vector<uint8_t>(7, 'o')));
    }
    ASSERT_FALSE(set.empty());
    ASSERT_NO_FATAL_FAILURE(insertDisk(set[0]));
    r.run = runProgram(L"A:\\SETUP.EXE", L" /AUTO " + r.target.substr(0, r.target.size() - 1),
                       [&](const SeenWindow& w, HWND) -> int {
                           if (Test::HasFatalFailure())
                               return IDCANCEL;
                           if (!w.isMessageBox())
                               return defaultAnswer(w, nullptr);
                           r.prompts.push_back(w.text);
                           int answer = policy ? policy(w, (int)r.prompts.size()) : 0;
                           if (Test::HasFatalFailure())
                               return IDCANCEL;
                           if (answer != 0)
                               return answer;
                           int disk = wantedDisk(w.text);
                           if (disk >= 1 && disk <= (int)set.size()
                               && (w.text == insertText(disk) || w.text == missingText(disk))) {
                               insertDisk(set[disk - 1]);
                               if (Test::HasFatalFailure())
                                   return IDCANCEL;
                               return w.text == insertText(disk) ? IDOK : IDRETRY;
                           }
                           return defaultAnswer(w, nullptr);
                       });
}

std::string describe(const SetRun& r)
{
    return narrow(r.run.describe());
}

void expectExtracted(const SetRun& r, const std::vector<std::wstring>& skip = {})
{
    for (const auto& f : payload()) {
        bool skipped = false;
        for (const auto& s : skip)
            skipped |= s == f.first;
        if (skipped)
            continue;
        std::vector<uint8_t> got = readWhole(r.target + f.first);
        EXPECT_EQ(got.size(), f.second.size()) << narrow(f.first) << "\n" << describe(r);
        EXPECT_TRUE(got == f.second) << narrow(f.first) << " differs\n" << describe(r);
    }
}

std::vector<std::wstring> insertPrompts(int from, int to)
{
    std::vector<std::wstring> texts;
    for (int d = from; d <= to; d++)
        texts.push_back(insertText(d));
    return texts;
}

// ---- tests ----

TEST(SpannedSet, BuilderWritesOneFolderPerDisk)
{
    DiskSet exe, zip;
    ASSERT_NO_FATAL_FAILURE(buildSet(L"span-exe-layout", spanOption(), exe));
    ASSERT_EQ(exe.size(), 4u);
    for (const Disk& d : exe) {
        EXPECT_EQ(d.files.size(), 1u) << d.label;
        EXPECT_TRUE(d.files.count(L"SETUP.EXE")) << d.label;
    }
    ASSERT_NO_FATAL_FAILURE(buildSet(L"span-zip-layout", spanOption() + L" --zip-volumes", zip));
    ASSERT_GE(zip.size(), 3u);
    EXPECT_EQ(zip[0].files.size(), 2u);
    for (const DiskSet* set : {&exe, &zip}) {
        for (const Disk& d : *set) {
            size_t used = 0;
            for (const auto& file : d.files)
                used += file.second.size();
            EXPECT_LE(used, diskRoom()) << d.label << ": the files of a disk fit in its room together";
        }
    }
    for (size_t i = 1; i < zip.size(); i++)
        EXPECT_TRUE(zip[i].files.size() == 1 && zip[i].files.count(L"SETUP.ZIP")) << zip[i].label;
    const std::vector<uint8_t>& first = zip[0].files[L"SETUP.ZIP"];
    ASSERT_GE(first.size(), 4u);
    EXPECT_EQ(le32(first, 0), 0x08074B50u) << "the spanning signature opens the first piece";
}

TEST(SpannedSet, ExeAndZipVolumesExtractCompletely)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* options;
    } cases[] = {
        {L"span-exe", L""},
        {L"span-zip", L" --zip-volumes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.name));
        DiskSet set;
        ASSERT_NO_FATAL_FAILURE(buildSet(c.name, spanOption() + c.options, set));
        SetRun r;
        ASSERT_NO_FATAL_FAILURE(runSet(r, c.name, set));
        ASSERT_FALSE(r.run.timedOut) << describe(r);
        EXPECT_EQ(r.prompts, insertPrompts(2, (int)set.size())) << describe(r);
        for (const SeenWindow& w : r.run.seen) {
            if (!w.isMessageBox())
                continue;
            EXPECT_EQ(w.caption, kCaption);
            EXPECT_EQ(w.buttons(), (std::vector<int>{IDOK, IDCANCEL})) << narrow(w.text);
        }
        expectExtracted(r);
    }
}

// Local headers of a single-piece set's SETUP.ZIP: where each header and its data begin and end.
struct EntryPlace {
    size_t header, data, end;
};

std::vector<EntryPlace> entryPlaces(const std::vector<uint8_t>& zip)
{
    std::vector<EntryPlace> places;
    size_t at = 4;
    while (at + 30 <= zip.size() && le32(zip, at) == 0x04034B50u) {
        uint32_t size = le32(zip, at + 18);
        size_t nameAndExtra = (size_t)(zip[at + 26] | zip[at + 27] << 8) + (zip[at + 28] | zip[at + 29] << 8);
        EntryPlace p = {at, at + 30 + nameAndExtra, at + 30 + nameAndExtra + size};
        places.push_back(p);
        at = p.end;
    }
    return places;
}

TEST(SpannedSet, VolumeEndsAtTheEdgesOfAnEntry)
{
    // With .ZIP volumes the first disk's piece gets what the program leaves of the span, so a span of
    // program size + n ends the first piece after n bytes.
    DiskSet whole;
    ASSERT_NO_FATAL_FAILURE(buildSet(L"span-whole", L"--span 2000000 --zip-volumes", whole));
    ASSERT_EQ(whole.size(), 1u);
    const size_t program = whole[0].files[L"SETUP.EXE"].size();
    std::vector<EntryPlace> places = entryPlaces(whole[0].files[L"SETUP.ZIP"]);
    ASSERT_GE(places.size(), 4u);
    const EntryPlace first = places[0];
    ASSERT_GT(first.end - first.data, 4096u);

    struct Case {
        const char* what;
        size_t firstPiece;
        bool headerStraddles; // hand-made: the next header's signature and 10 bytes end the first piece
    } cases[] = {
        {"the first entry's data ends exactly at the volume's end", first.end, false},
        {"a 2048-byte read ends exactly at the volume's end", first.data + 4096, false},
        {"a read comes up short at the volume's end", first.data + 1000, false},
        {"the next local header straddles two volumes", first.end, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DiskSet set;
        ASSERT_NO_FATAL_FAILURE(
            buildSet(L"span-edge", L"--span " + std::to_wstring(program + c.firstPiece) + L" --zip-volumes", set));
        ASSERT_GE(set.size(), 2u);
        ASSERT_EQ(set[0].files[L"SETUP.ZIP"].size(), c.firstPiece);
        if (c.headerStraddles) {
            // The reader takes the signature from the first piece, gets 10 of the 26 fixed bytes, drops
            // them and reads all 26 again from the start of the next piece.
            std::vector<uint8_t>& tail = set[0].files[L"SETUP.ZIP"];
            std::vector<uint8_t>& next = set[1].files[L"SETUP.ZIP"];
            ASSERT_GE(next.size(), 14u);
            ASSERT_EQ(le32(next, 0), 0x04034B50u);
            tail.insert(tail.end(), next.begin(), next.begin() + 14);
            next.erase(next.begin(), next.begin() + 4);
        }
        SetRun r;
        ASSERT_NO_FATAL_FAILURE(runSet(r, L"span-edge", set));
        ASSERT_FALSE(r.run.timedOut) << describe(r);
        EXPECT_EQ(r.prompts, insertPrompts(2, (int)set.size())) << describe(r);
        expectExtracted(r);
    }
}

TEST(SpannedSet, OverwriteNoSkipsAcrossVolumes)
{
    DiskSet set;
    ASSERT_NO_FATAL_FAILURE(buildSet(L"span-skip", spanOption(), set));
    ASSERT_EQ(set.size(), 4u);
    // a.bin starts on disk 1 and ends on disk 3 (see payload()).
    SetRun r;
    ASSERT_NO_FATAL_FAILURE(runSet(r, L"span-skip", set, [](const SeenWindow& w, int) {
        return w.text.find(L"bestaat al") != std::wstring::npos ? IDNO : 0;
    }, L"a.bin"));
    ASSERT_FALSE(r.run.timedOut) << describe(r);
    ASSERT_GE(r.prompts.size(), 1u) << describe(r);
    EXPECT_NE(r.prompts[0].find(L"a.bin bestaat al"), std::wstring::npos) << describe(r);
    EXPECT_EQ(std::vector<std::wstring>(r.prompts.begin() + 1, r.prompts.end()), insertPrompts(2, 4))
        << describe(r);
    EXPECT_EQ(readWhole(r.target + L"a.bin"), std::vector<uint8_t>(7, 'o')) << "the skipped file is untouched";
    expectExtracted(r, {L"a.bin"});
}

TEST(SpannedSet, DiskPromptsAndTheirAnswers)
{
    DiskSet set;
    ASSERT_NO_FATAL_FAILURE(buildSet(L"span-prompts", spanOption(), set));
    ASSERT_EQ(set.size(), 4u);
    const Disk unlabelled = labelled("DATA", set[1]); // disk 2's files on a disk without a set label

    struct Case {
        const char* what;
        // Answers the prompt with the given number (1 = the first box); 0 = the usual answer.
        std::function<int(const SeenWindow&, int)> answer;
        std::vector<std::wstring> prompts;
        bool complete;
    } cases[] = {
        {"a wrong disk, then the right one",
         [&](const SeenWindow&, int n) {
             if (n != 1)
                 return 0;
             insertDisk(set[2]);
             return IDOK;
         },
         {insertText(2), insertText(2), insertText(3), insertText(4)}, true},
        {"an unlabelled disk, then Retry with the right one",
         [&](const SeenWindow&, int n) {
             if (n != 1)
                 return 0;
             insertDisk(labelled("DATA"));
             return IDOK;
         },
         {insertText(2), missingText(2), insertText(3), insertText(4)}, true},
        {"Ignore takes the volume file from the unlabelled disk",
         [&](const SeenWindow&, int n) {
             if (n == 1) {
                 insertDisk(unlabelled);
                 return IDOK;
             }
             return n == 2 ? IDIGNORE : 0;
         },
         // disk 2 is taken as read, and the unlabelled disk is still in the drive when disk 3 is wanted
         {insertText(2), missingText(2), missingText(3), insertText(4)}, true},
        {"Abort stops the run",
         [&](const SeenWindow&, int n) {
             if (n == 1) {
                 insertDisk(labelled("DATA"));
                 return IDOK;
             }
             return n == 2 ? IDABORT : 0;
         },
         {insertText(2), missingText(2)}, false},
        {"Cancel stops the run", [&](const SeenWindow&, int n) { return n == 1 ? IDCANCEL : 0; },
         {insertText(2)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetRun r;
        ASSERT_NO_FATAL_FAILURE(runSet(r, L"span-prompts", set, c.answer));
        ASSERT_FALSE(r.run.timedOut) << describe(r);
        ASSERT_GE(r.prompts.size(), c.prompts.size()) << describe(r);
        EXPECT_EQ(std::vector<std::wstring>(r.prompts.begin(), r.prompts.begin() + c.prompts.size()), c.prompts)
            << describe(r);
        for (const SeenWindow& w : r.run.seen) {
            if (w.text == missingText(2)) {
                EXPECT_EQ(w.buttons(), (std::vector<int>{IDABORT, IDRETRY, IDIGNORE}));
            }
        }
        EXPECT_EQ(r.run.exitCode, c.complete ? 0u : 2u) << "Abort and Cancel stop at the user's request";
        if (c.complete) {
            EXPECT_EQ(r.prompts.size(), c.prompts.size()) << describe(r);
            expectExtracted(r);
        } else {
            EXPECT_FALSE(exists(r.target + L"sub\\d.bin")) << "the run stopped before the last entry\n" << describe(r);
        }
    }
}

TEST(SpannedSet, LabelFormsOnTheDrive)
{
    struct Case {
        const char* label;
        uint16_t disk;
    } cases[] = {
        {"PKBACK# 003", 3}, {"PKBACK#.3", 3}, {"PKBACK# 65537", 1}, {"PKBACK# 1 OF 2", 1},
        {"PKBACK#3", NOT_A_SET_LABEL}, {"pkback# 003", NOT_A_SET_LABEL}, {"PKBACK# X", NOT_A_SET_LABEL},
        {"BACKUP 001", NOT_A_SET_LABEL},
    };
    for (const Case& c : cases) {
        ASSERT_NO_FATAL_FAILURE(insertDisk(labelled(c.label)));
        EXPECT_EQ(readVolumeNumber(kDriveRoot), c.disk) << c.label;
    }
}

TEST(SpannedSet, LastDiskPromptNamesTheDrive)
{
    // Asking for disk 0 (the last disk) while a set disk with another number is in the drive: prompt 1002
    // with OK and Cancel; Cancel stops with value 2.
    DiskSet set;
    ASSERT_NO_FATAL_FAILURE(buildSet(L"span-last", spanOption() + L" --zip-volumes", set));
    ASSERT_NO_FATAL_FAILURE(insertDisk(set[0]));
    std::vector<std::wstring> texts;
    RunResult run = runProgram(buildProgram(L"span_test.exe"), L" --child=last-disk", [&](const SeenWindow& w, HWND) {
        texts.push_back(w.text);
        EXPECT_EQ(w.buttons(), (std::vector<int>{IDOK, IDCANCEL}));
        EXPECT_EQ(w.caption, kCaption);
        return IDCANCEL;
    });
    EXPECT_EQ(texts, (std::vector<std::wstring>{kLastDiskText})) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 2u) << narrow(run.describe());
}

TEST(SpannedSet, InfoZipSplitArchiveExtracts)
{
    // zip -s writes a spanned archive by the same rules: the spanning signature first, headers whole,
    // data running on into the next piece. Its pieces go one per disk as SETUP.ZIP, beside a program
    // built with --zip-volumes.
    std::wstring fixtures = buildProgram(L"fixtures\\span-infozip\\");
    std::wstring dir = scratchFolder(L"span-iz");
    ASSERT_NO_FATAL_FAILURE(buildSfx(L"--span 2000000 --zip-volumes -o " + quote(dir + L"SETUP.EXE") + L" "
                                     + quote(fixtures + L"payload")));
    DiskSet set(3);
    const wchar_t* pieces[] = {L"split.z01", L"split.z02", L"split.zip"};
    for (int i = 0; i < 3; i++) {
        set[i].label = narrow(diskFolderName(i + 1));
        set[i].files[L"SETUP.ZIP"] = readWhole(fixtures + pieces[i]);
        ASSERT_FALSE(set[i].files[L"SETUP.ZIP"].empty()) << narrow(pieces[i]);
    }
    set[0].files[L"SETUP.EXE"] = readWhole(dir + L"PKBACK# 001\\SETUP.EXE");
    SetRun r;
    ASSERT_NO_FATAL_FAILURE(runSet(r, L"span-iz", set));
    ASSERT_FALSE(r.run.timedOut) << describe(r);
    EXPECT_EQ(r.prompts, insertPrompts(2, 3)) << describe(r);
    for (const wchar_t* name : {L"big.bin", L"docs\\notes.txt", L"empty.txt"}) {
        std::vector<uint8_t> want = readWhole(fixtures + L"payload\\" + name);
        EXPECT_TRUE(exists(r.target + name)) << narrow(name) << "\n" << describe(r);
        EXPECT_TRUE(readWhole(r.target + name) == want) << narrow(name);
    }
}

} // namespace

// Child role: the stub's volume switch in a process of its own, started as if from A:\SETUP.EXE.
static int runChild(const std::string& role)
{
    if (role == "last-disk") {
        wcscpy(programPath, L"A:\\SETUP.EXE");
        if (int value = setjmp(unwindPoint))
            return value;
        switchVolume(0, false);
        return 100 + currentDisk;
    }
    return 3;
}

int main(int argc, char** argv)
{
    instanceHandle = GetModuleHandleW(nullptr);
    if (argc > 1 && strncmp(argv[1], "--child=", 8) == 0)
        return runChild(argv[1] + 8);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
