// The write floor of an extraction under Wine: writes the files of a pack from memory with the fewest Win32
// calls a file needs (CreateFileW, WriteFile of 64 KiB pieces, SetFileTime, CloseHandle), each folder made
// once. No decoding, no checks, no window: what is left is the cost of the files themselves, the yardstick
// for scripts/bench-extract.
//
//   write_floor.exe PACK TARGET-FOLDER
//
// PACK (made by scripts/bench-extract, little-endian): "AKFLOOR1", then per file
//   u16  length of the relative path in UTF-8 bytes ('/' separates folders)
//   ...  the path
//   u64  the last-write time as a FILETIME (UTC)
//   u32  the size
//   ...  the bytes
// The pack is read whole before the first file is made. Exit code 0, or 1 with a line on stderr.
#include <windows.h>

#include <string>
#include <unordered_set>

namespace {

void fail(const char* what)
{
    char line[160];
    wsprintfA(line, "write_floor: %s (error %lu)\n", what, GetLastError());
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, lstrlenA(line), &written, nullptr);
    ExitProcess(1);
}

// The whole pack in memory.
const uint8_t* readPack(const wchar_t* path, uint32_t* size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        fail("cannot open the pack");
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    if (high != 0 || low < 8)
        fail("the pack is empty or too large");
    uint8_t* bytes = (uint8_t*)VirtualAlloc(nullptr, low, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!bytes)
        fail("no memory for the pack");
    for (DWORD done = 0; done < low;) {
        DWORD n = 0;
        if (!ReadFile(file, bytes + done, low - done, &n, nullptr) || n == 0)
            fail("cannot read the pack");
        done += n;
    }
    CloseHandle(file);
    if (memcmp(bytes, "AKFLOOR1", 8) != 0)
        fail("not a pack");
    *size = low;
    return bytes;
}

std::wstring widen(const uint8_t* text, uint32_t length)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, (const char*)text, (int)length, nullptr, 0);
    std::wstring wide((size_t)units, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, (const char*)text, (int)length, &wide[0], units);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return wide;
}

// Makes every folder of path below base that this run has not made yet.
void makeFolders(const std::wstring& path, size_t baseLength, std::unordered_set<std::wstring>& made)
{
    for (size_t at = path.find(L'\\', baseLength); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        std::wstring folder = path.substr(0, at);
        if (made.insert(folder).second && !CreateDirectoryW(folder.c_str(), nullptr)
            && GetLastError() != ERROR_ALREADY_EXISTS)
            fail("cannot make a folder");
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        fail("usage: write_floor.exe PACK TARGET-FOLDER");
    uint32_t size = 0;
    const uint8_t* pack = readPack(argv[1], &size);
    std::wstring base = argv[2];
    if (base.empty() || base.back() != L'\\')
        base += L'\\';
    CreateDirectoryW(base.c_str(), nullptr);
    std::unordered_set<std::wstring> made;

    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    uint32_t at = 8, files = 0;
    while (at < size) {
        if (size - at < 2)
            fail("the pack is cut short");
        uint32_t nameLength = pack[at] | pack[at + 1] << 8;
        at += 2;
        if (size - at < nameLength + 12u)
            fail("the pack is cut short");
        std::wstring path = base + widen(pack + at, nameLength);
        at += nameLength;
        FILETIME time;
        memcpy(&time, pack + at, 8);
        uint32_t length;
        memcpy(&length, pack + at + 8, 4);
        at += 12;
        if (size - at < length)
            fail("the pack is cut short");
        makeFolders(path, base.size(), made);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            fail("cannot create a file");
        for (uint32_t done = 0; done < length;) {
            DWORD piece = length - done < 65536 ? length - done : 65536;
            DWORD written = 0;
            if (!WriteFile(file, pack + at + done, piece, &written, nullptr) || written != piece)
                fail("cannot write a file");
            done += piece;
        }
        SetFileTime(file, &time, &time, &time);
        CloseHandle(file);
        at += length;
        files++;
    }
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    char line[96];
    wsprintfA(line, "%lu files written in %lu ms\n", (unsigned long)files,
              (unsigned long)((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart));
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, lstrlenA(line), &written, nullptr);
    return 0;
}
