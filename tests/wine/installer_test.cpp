// Installers under Wine: self-extracting files that start a program after extraction (--run, --run-wait)
// and carry their own icon, version resource and manifest (--icon, --version-info, --admin), run the way
// a user or a script runs them. The program is run_probe.exe, packed as setup.exe: it records how it was
// started and ends with exit code 7.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <memory>

#include "test_files.h"
#include "tests/native/icon_fixture.h"
#include "ui_driver.h"

#include <shellapi.h>

namespace {

const DWORD kProbeExitCode = 7;
const DWORD kWaitLimitMs = 60000; // for what a test waits on; reaching it fails the test
const wchar_t* const kHoldEvent = L"aksfx-run-probe-hold";
const char* const kVersionInfo = "ProductName=Voorbeeld;FileVersion=1.2.3.4;CompanyName=Voorbeeld B.V.;"
                                 "FileDescription=Installatie van Voorbeeld";

struct Installer {
    std::wstring dir;    // the test's folder, holding installer.exe
    std::wstring exe;
    std::wstring target; // where a test extracts to (made by the run)
};

// Builds installer.exe from a payload of the probe as setup.exe, readme.txt and zz.bin (stored, and last
// in the archive: a damaged or kept zz.bin comes after setup.exe has been written).
Installer makeInstaller(const std::wstring& name, const std::wstring& options)
{
    Installer i;
    i.dir = scratchFolder(name);
    i.exe = i.dir + L"installer.exe";
    i.target = i.dir + L"target";
    std::wstring payload = i.dir + L"payload\\";
    CreateDirectoryW(payload.c_str(), nullptr);
    EXPECT_TRUE(CopyFileW(buildProgram(L"run_probe.exe").c_str(), (payload + L"setup.exe").c_str(), FALSE));
    writeText(payload + L"readme.txt", "lees mij\r\n");
    writeText(payload + L"zz.bin", std::string(3000, 'z'));
    buildSfx(options + L" --store -o " + quote(i.exe) + L" " + quote(payload));
    return i;
}

struct ProbeRecord {
    bool found = false;
    std::string commandLine;
    std::string currentFolder;
    std::string self;
    DWORD processId = 0;
};

// Waits for the record of the probe at program (it appears whole) and reads it.
ProbeRecord waitForRecord(const std::wstring& program)
{
    const std::wstring path = program + L".txt";
    DWORD start = GetTickCount();
    while (!exists(path) && GetTickCount() - start < kWaitLimitMs)
        Sleep(20);
    ProbeRecord r;
    std::vector<uint8_t> bytes = readWhole(path);
    std::string text(bytes.begin(), bytes.end());
    std::string lines[4];
    size_t at = 0;
    for (std::string& line : lines) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return r;
        line = text.substr(at, end - at);
        at = end + 1;
    }
    r.found = true;
    r.commandLine = lines[0];
    r.currentFolder = lines[1];
    r.self = lines[2];
    r.processId = (DWORD)std::stoul(lines[3]);
    return r;
}

std::string withoutTrailingSeparator(std::string path)
{
    if (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

// Answers the overwrite question with the given button; everything else as usual.
Answer overwriteAnswer(int button)
{
    return [button](const SeenWindow& w, HWND window) {
        return w.text.find(L"bestaat al") != std::wstring::npos ? button : defaultAnswer(w, window);
    };
}

// The colour in the middle of an icon drawn at size x size on black, as 0xRRGGBB.
uint32_t iconColour(HICON icon, int size)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) {
        DeleteDC(dc);
        return 0xFFFFFFFF;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
    uint32_t colour = static_cast<const uint32_t*>(bits)[(size / 2) * size + size / 2] & 0xFFFFFF;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return colour;
}

} // namespace

// With --run-wait the program's exit code is the caller's. The program named in the file runs from the
// target folder by its full path, though the started file sits beside a program of the same name and
// is started from that folder.
TEST(Installer, RunWaitGivesTheProgramsExitCode)
{
    const struct {
        const char* label;
        std::wstring options;  // ICON stands for an icon file's path
        const char* program;   // the name as the file gives it
        std::string arguments; // as the program must receive them after its quoted path
    } cases[] = {
        {"arguments", L"--run-wait --run \"setup.exe /quiet \\\"two words\\\"\"", "setup.exe",
         " /quiet \"two words\""},
        {"quoted name in other letter case, every installer option",
         L"--run-wait --run \"\\\"SETUP.EXE\\\"\" --admin --icon ICON --version-info \""
             + std::wstring(kVersionInfo, kVersionInfo + strlen(kVersionInfo)) + L"\"",
         "SETUP.EXE", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::wstring dir = scratchFolder(L"run-wait-icon" + std::to_wstring(n));
        ASSERT_NO_FATAL_FAILURE(writeWhole(dir + L"a.ico", icon_fixture::makeIcon({{16, 0xFFFF0000}})));
        std::wstring options = c.options;
        size_t icon = options.find(L"ICON");
        if (icon != std::wstring::npos)
            options.replace(icon, 4, quote(dir + L"a.ico"));
        Installer i = makeInstaller(L"run-wait" + std::to_wstring(n++), options);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(CopyFileW(buildProgram(L"run_probe.exe").c_str(), (i.dir + L"setup.exe").c_str(), FALSE));

        RunResult run = runProgram(i.exe, L" /AUTO " + quote(i.target), defaultAnswer, kWaitLimitMs, i.dir);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, kProbeExitCode) << narrow(run.describe());
        for (const SeenWindow& w : run.seen)
            EXPECT_FALSE(w.isMessageBox()) << narrow(run.describe());

        ProbeRecord r = waitForRecord(i.target + L"\\setup.exe");
        ASSERT_TRUE(r.found);
        const std::string program = narrow(i.target) + "\\" + c.program;
        EXPECT_EQ(r.commandLine, "\"" + program + "\"" + c.arguments);
        EXPECT_EQ(lstrcmpiA(r.self.c_str(), program.c_str()), 0) << r.self; // the file system's letter case
        EXPECT_EQ(withoutTrailingSeparator(r.currentFolder), narrow(i.target));
        EXPECT_FALSE(exists(i.dir + L"setup.exe.txt")) << "the program beside the started file ran";
    }
}

// Without --run-wait the file ends as soon as the program has started: the program is still running
// (held by an event) when the caller gets exit code 0.
TEST(Installer, WithoutRunWaitTheFileEndsOnceTheProgramStarted)
{
    Installer i = makeInstaller(L"run-nowait", L"--run setup.exe");
    if (HasFatalFailure())
        return;
    // Closed however the test ends: a probe started later must not wait for it.
    std::unique_ptr<void, decltype(&CloseHandle)> holdHandle(CreateEventW(nullptr, TRUE, FALSE, kHoldEvent),
                                                             &CloseHandle);
    HANDLE hold = holdHandle.get();
    ASSERT_NE(hold, nullptr);

    std::wstring commandLine = L"\"" + i.exe + L"\" /AUTO " + quote(i.target);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(i.exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, i.dir.c_str(),
                               &startup, &process));
    CloseHandle(process.hThread);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, kWaitLimitMs), WAIT_OBJECT_0);
    DWORD code = 0xDEADBEEF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 0u);

    ProbeRecord r = waitForRecord(i.target + L"\\setup.exe");
    ASSERT_TRUE(r.found);
    HANDLE probe = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, r.processId);
    ASSERT_NE(probe, nullptr) << "the program ended while held";
    EXPECT_EQ(WaitForSingleObject(probe, 0), (DWORD)WAIT_TIMEOUT) << "the program ended while held";
    SetEvent(hold);
    EXPECT_EQ(WaitForSingleObject(probe, kWaitLimitMs), WAIT_OBJECT_0);
    DWORD probeCode = 0;
    GetExitCodeProcess(probe, &probeCode);
    EXPECT_EQ(probeCode, kProbeExitCode);
    CloseHandle(probe);
}

// The program starts only after a run that wrote every entry. With --run-wait a program that had been
// started would have ended, and written its record, before the run returns.
TEST(Installer, NoProgramAfterARunThatDidNotWriteEveryEntry)
{
    const struct {
        const char* label;
        bool damage;          // a byte of zz.bin's stored data changed: a CRC error
        bool zzExists;        // the target already holds zz.bin
        int overwriteButton;  // the answer to the overwrite question
        const wchar_t* args;  // after the program's name
        DWORD exitCode;
        bool programWritten;  // setup.exe was extracted before the run ended
    } cases[] = {
        {"damaged entry after the program", true, false, 0, L" /AUTO TARGET", 1, true},
        {"entry kept at the overwrite question", false, true, IDNO, L" /AUTO TARGET", 3, true},
        {"cancel at the overwrite question", false, true, IDCANCEL, L" /AUTO TARGET", 2, true},
        {"dialog closed without extracting", false, false, 0, L"", 0, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Installer i = makeInstaller(L"no-run" + std::to_wstring(n++), L"--run-wait --run setup.exe");
        if (HasFatalFailure())
            return;
        if (c.damage) {
            std::vector<uint8_t> file = readWhole(i.exe);
            const std::string zz(3000, 'z');
            auto at = std::search(file.begin(), file.end(), zz.begin(), zz.end());
            ASSERT_NE(at, file.end());
            at[1500] = 'y';
            ASSERT_NO_FATAL_FAILURE(writeWhole(i.exe, file));
        }
        if (c.zzExists) {
            CreateDirectoryW(i.target.c_str(), nullptr);
            ASSERT_NO_FATAL_FAILURE(writeText(i.target + L"\\zz.bin", "older\r\n"));
        }
        std::wstring args = c.args;
        size_t target = args.find(L"TARGET");
        if (target != std::wstring::npos)
            args.replace(target, 6, quote(i.target));
        RunResult run = runProgram(i.exe, args, c.overwriteButton ? overwriteAnswer(c.overwriteButton) : defaultAnswer,
                                   kWaitLimitMs, i.dir);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, c.exitCode) << narrow(run.describe());
        EXPECT_EQ(exists(i.target + L"\\setup.exe"), c.programWritten);
        EXPECT_FALSE(exists(i.target + L"\\setup.exe.txt")) << "the program ran";
        EXPECT_EQ(run.processesNamed(L"setup.exe"), 0) << narrow(run.describe());
    }
}

// Text as the header holds it: UTF-16LE.
static std::vector<uint8_t> utf16(const std::wstring& text)
{
    std::vector<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back((uint8_t)c);
        bytes.push_back((uint8_t)(c >> 8));
    }
    return bytes;
}

// What the stub does not start, whoever built the file: a run command naming a file that is neither a
// program nor an installer package (a file of an older tool, here made by changing the run command of a
// file built without a header check) is reported and the run ends with exit code 1; a batch file does not
// run. A program file that the system cannot start is reported the same way.
TEST(Installer, FileThatIsNoProgramIsReportedAndNotStarted)
{
    const struct {
        const char* label;
        const wchar_t* named;  // what the header's run command names instead of setup.exe
        const wchar_t* wait;
    } cases[] = {
        {"batch file", L"setup.bat", L""},
        {"text file", L"setup.txt", L"--run-wait "},
        {"program file that is text", L"setup.exe", L"--run-wait "},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Installer i;
        i.dir = scratchFolder(L"cannot-run" + std::to_wstring(n++));
        i.exe = i.dir + L"installer.exe";
        i.target = i.dir + L"target";
        std::wstring payload = i.dir + L"payload\\";
        CreateDirectoryW(payload.c_str(), nullptr);
        // The batch file would leave ran.txt in the target folder.
        ASSERT_NO_FATAL_FAILURE(writeText(payload + L"setup.bat", "@echo ran> ran.txt\r\n"));
        ASSERT_NO_FATAL_FAILURE(writeText(payload + L"setup.txt", "lees mij\r\n"));
        ASSERT_NO_FATAL_FAILURE(writeText(payload + L"setup.exe", "not a program\r\n"));
        ASSERT_NO_FATAL_FAILURE(
            buildSfx(std::wstring(c.wait) + L"--crc none --run setup.exe -o " + quote(i.exe) + L" " + quote(payload)));
        std::vector<uint8_t> file = readWhole(i.exe);
        const std::vector<uint8_t> built = utf16(L"setup.exe"), named = utf16(c.named);
        auto at = std::find_end(file.begin(), file.end(), built.begin(), built.end()); // the header's run command
        ASSERT_NE(at, file.end());
        std::copy(named.begin(), named.end(), at);
        ASSERT_NO_FATAL_FAILURE(writeWhole(i.exe, file));

        RunResult run = runProgram(i.exe, L" /AUTO " + quote(i.target), defaultAnswer, kWaitLimitMs, i.dir);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 1u) << narrow(run.describe());
        std::vector<std::wstring> boxes;
        for (const SeenWindow& w : run.seen)
            if (w.isMessageBox())
                boxes.push_back(w.text);
        ASSERT_EQ(boxes.size(), 1u) << narrow(run.describe());
        EXPECT_EQ(boxes[0], L"Kan programma " + i.target + L"\\" + c.named + L" niet starten na het uitpakken.");
        EXPECT_TRUE(exists(i.target + L"\\" + c.named));
        EXPECT_FALSE(exists(i.target + L"\\ran.txt")) << "the batch file ran";
    }
}

// An installer package is installed by the system's msiexec.exe with the run command's arguments, and
// with --run-wait the file ends with msiexec's exit code once it has ended: the package's file is there
// at once, and a package msiexec cannot open gives the code msiexec gives for it when started directly.
TEST(Installer, PackageIsInstalledByMsiexec)
{
    const std::wstring package = buildProgram(L"fixtures\\probe.msi");
    ASSERT_TRUE(exists(package)) << "the make_msi_fixture step makes it (wixl)";
    Installer i;
    i.dir = scratchFolder(L"package");
    i.exe = i.dir + L"installer.exe";
    i.target = i.dir + L"target";
    const std::wstring installed = i.dir + L"installed";
    std::wstring payload = i.dir + L"payload\\";
    CreateDirectoryW(payload.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(package.c_str(), (payload + L"Pakket.msi").c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(writeText(payload + L"kapot.msi", "no installer package\r\n"));
    const std::wstring build = L" --store -o " + quote(i.exe) + L" " + quote(payload);
    ASSERT_NO_FATAL_FAILURE(
        buildSfx(L"--run-wait --run " + quote(L"pakket.MSI /qn INSTALLDIR=" + quote(installed)) + build));

    RunResult run = runProgram(i.exe, L" /AUTO " + quote(i.target), defaultAnswer, kWaitLimitMs, i.dir);
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u) << narrow(run.describe());
    for (const SeenWindow& w : run.seen)
        EXPECT_FALSE(w.isMessageBox()) << narrow(run.describe());
    EXPECT_EQ(readWhole(installed + L"\\installed.txt").size(), 26u) << "the package's file, installed";

    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring msiexec = quote(std::wstring(system) + L"\\msiexec.exe");
    runConsole(msiexec + L" /x " + quote(i.target + L"\\Pakket.msi") + L" /qn"); // leaves the prefix as it was

    // A package msiexec cannot open: its exit code, whatever the system's msiexec says for it.
    ASSERT_TRUE(DeleteFileW(i.exe.c_str()));
    ASSERT_NO_FATAL_FAILURE(buildSfx(L"--run-wait --run " + quote(L"kapot.msi /qn") + build));
    const std::wstring broken = i.dir + L"broken";
    RunResult failed = runProgram(i.exe, L" /AUTO " + quote(broken), defaultAnswer, kWaitLimitMs, i.dir);
    ASSERT_FALSE(failed.timedOut) << narrow(failed.describe());
    const DWORD direct = runConsole(msiexec + L" /i " + quote(broken + L"\\kapot.msi") + L" /qn");
    EXPECT_NE(direct, 0u);
    EXPECT_NE(direct, 1u);
    EXPECT_EQ(failed.exitCode, direct) << narrow(failed.describe());
    for (const SeenWindow& w : failed.seen)
        EXPECT_FALSE(w.isMessageBox()) << narrow(failed.describe());
}

TEST(Installer, ToolRefusesAProgramThatIsNoFileOfTheArchive)
{
    const struct {
        const wchar_t* run;
        const char* message;
    } cases[] = {
        {L"missing.exe", "--run program \"missing.exe\" is not a file in the archive"},
        {L"..\\setup.exe", "is no name below the target folder"},
        {L"setup.bat", "is neither a program (.exe) nor an installer package (.msi): a batch file"},
    };
    std::wstring dir = scratchFolder(L"run-refused");
    std::wstring payload = dir + L"payload\\";
    CreateDirectoryW(payload.c_str(), nullptr);
    ASSERT_NO_FATAL_FAILURE(writeText(payload + L"setup.exe", "MZ"));
    ASSERT_NO_FATAL_FAILURE(writeText(payload + L"setup.bat", "@echo off\r\n"));
    for (const auto& c : cases) {
        std::string output;
        std::wstring line = L"\"" + buildProgram(L"aksfx-build.exe") + L"\" --stub \"" + buildProgram(L"aksfx32.exe")
                            + L"\" --run " + quote(c.run) + L" -o " + quote(dir + L"out.exe") + L" " + quote(payload);
        EXPECT_EQ(runConsole(line, &output), 1u) << output;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
        EXPECT_FALSE(exists(dir + L"out.exe"));
    }
}

// What Windows reads from a file built with --icon and --version-info: the version fields through the
// version API, the icon at both sizes through the loader and through the shell's icon extraction (as
// Explorer shows it); and the stub's own dialog and texts still work.
TEST(Installer, VersionFieldsAndIconReadBack)
{
    std::wstring dir = scratchFolder(L"resources-icon");
    ASSERT_NO_FATAL_FAILURE(writeWhole(dir + L"a.ico", icon_fixture::makeIcon({{16, 0xFFFF0000}, {32, 0xFF0000FF}})));
    Installer i = makeInstaller(L"resources", L"--icon " + quote(dir + L"a.ico") + L" --version-info \""
                                                  + std::wstring(kVersionInfo, kVersionInfo + strlen(kVersionInfo))
                                                  + L"\"");
    if (HasFatalFailure())
        return;

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(i.exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << GetLastError();
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(i.exe.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", (void**)&fixed, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00030004u);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void**)&translation, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0413);
    EXPECT_EQ(translation[1], 0x04B0);
    const struct {
        const wchar_t* key;
        const wchar_t* value;
    } strings[] = {
        {L"ProductName", L"Voorbeeld"},
        {L"FileVersion", L"1.2.3.4"},
        {L"ProductVersion", L"1.2.3.4"},
        {L"CompanyName", L"Voorbeeld B.V."},
        {L"FileDescription", L"Installatie van Voorbeeld"},
    };
    for (const auto& s : strings) {
        wchar_t* value = nullptr;
        std::wstring path = std::wstring(L"\\StringFileInfo\\041304B0\\") + s.key;
        ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), (void**)&value, &length)) << narrow(s.key);
        EXPECT_EQ(std::wstring(value), s.value) << narrow(s.key);
    }

    HMODULE module = LoadLibraryExW(i.exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << GetLastError();
    for (const auto& [pixels, colour] : {std::pair<int, uint32_t>{16, 0xFF0000}, {32, 0x0000FF}}) {
        HICON icon = (HICON)LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, pixels, pixels, 0);
        ASSERT_NE(icon, nullptr) << pixels;
        EXPECT_EQ(iconColour(icon, pixels), colour) << pixels;
        DestroyIcon(icon);
    }
    FreeLibrary(module);
    HICON large = nullptr, small = nullptr;
    ExtractIconExW(i.exe.c_str(), 0, &large, &small, 1);
    ASSERT_NE(large, nullptr);
    ASSERT_NE(small, nullptr);
    // The shell picks the image for its own icon sizes (Wine's small size may take the larger image).
    EXPECT_EQ(iconColour(large, 32), 0x0000FFu);
    uint32_t smallColour = iconColour(small, 16);
    EXPECT_TRUE(smallColour == 0xFF0000u || smallColour == 0x0000FFu)
        << std::hex << smallColour << ", small icons are " << std::dec << GetSystemMetrics(SM_CXSMICON) << " pixels";
    DestroyIcon(large);
    DestroyIcon(small);

    RunResult run = runProgram(i.exe, L"", defaultAnswer, kWaitLimitMs, i.dir);
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.seen.size(), 1u) << narrow(run.describe());
    EXPECT_EQ(run.seen[0].caption, L"Arklet Self-Extractor - installer.exe");
    EXPECT_EQ(run.seen[0].controlText(2), L"&Sluiten");
}
