#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <winioctl.h>

#include "ui_driver.h"

std::wstring buildProgram(const wchar_t* name)
{
    std::string dir = AKSFX_BUILD_DIR;
    std::wstring path = L"Z:";
    for (char c : dir)
        path += c == '/' ? L'\\' : (wchar_t)c;
    return path + L"\\" + name;
}

static void removeTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = folder + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child + L"\\");
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring scratchFolder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = std::wstring(temp) + L"aksfx-tests\\";
    CreateDirectoryW(base.c_str(), nullptr);
    std::wstring folder = base + name + L"\\";
    removeTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::vector<uint8_t> readWhole(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD size = GetFileSize(f, nullptr), got = 0;
    bytes.resize(size);
    if (size)
        ReadFile(f, bytes.data(), size, &got, nullptr);
    bytes.resize(got);
    CloseHandle(f);
    return bytes;
}

void writeWhole(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << narrow(path);
    DWORD written = 0;
    WriteFile(f, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(f);
    ASSERT_EQ(written, bytes.size());
}

void writeText(const std::wstring& path, const std::string& text)
{
    writeWhole(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD runConsole(const std::wstring& commandLine, std::string* output)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return 0xFFFFFFFF;
    }
    CloseHandle(writeEnd);
    std::string text;
    char buffer[4096];
    DWORD got;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
        text.append(buffer, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (output)
        *output = text;
    return code;
}

std::wstring quote(const std::wstring& argument)
{
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            backslashes++;
        } else {
            out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
        }
        if (c != L'\\')
            out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

void buildSfx(const std::wstring& arguments)
{
    std::string output;
    std::wstring line = L"\"" + buildProgram(L"aksfx-build.exe") + L"\" --stub \"" + buildProgram(L"aksfx32.exe")
                        + L"\" " + arguments;
    DWORD code = runConsole(line, &output);
    ASSERT_EQ(code, 0u) << narrow(line) << "\n" << output;
}

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | ((uint32_t)bytes[at + 3] << 24);
}

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + i] = (uint8_t)(value >> (8 * i));
}

size_t blockOffset(const std::vector<uint8_t>& file)
{
    static const uint8_t signature[8] = {'Q', 'V', 'R', 1, 's', 'f', 'x', 2};
    auto it = std::search(file.begin(), file.end(), signature, signature + 8);
    return it == file.end() ? 0 : (size_t)(it - file.begin());
}

std::vector<std::wstring> temporaryFolderNames()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((std::wstring(temp) + L"*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            names.push_back(found.cFileName);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
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

// Defines letter: as a removable drive on a Linux folder through the mount manager (Wine's extension,
// as winecfg does); the manager then reads the folder's .windows-label. An empty folder removes it.
bool defineRemovableDrive(wchar_t letter, const std::string& unixFolder)
{
    struct UnixDrive { // include/ddk/mountmgr.h
        ULONG size;
        ULONG type;
        ULONG fsType;
        DWORD serial;
        ULONGLONG unixDevice;
        WCHAR letter;
        USHORT mountPointOffset;
        USHORT deviceOffset;
        USHORT labelOffset;
    };
    const DWORD defineUnixDrive = CTL_CODE((ULONG)'m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
    std::vector<char> buffer(sizeof(UnixDrive) + unixFolder.size() + 1, 0);
    UnixDrive* drive = (UnixDrive*)buffer.data();
    drive->size = (ULONG)buffer.size();
    drive->type = DRIVE_REMOVABLE;
    drive->letter = (WCHAR)towlower(letter);
    if (!unixFolder.empty()) {
        drive->mountPointOffset = sizeof(UnixDrive);
        memcpy(buffer.data() + sizeof(UnixDrive), unixFolder.c_str(), unixFolder.size() + 1);
    }
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE)
        return false;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(manager, defineUnixDrive, buffer.data(), (DWORD)buffer.size(), nullptr, 0, &returned,
                              nullptr);
    CloseHandle(manager);
    return ok != 0;
}
