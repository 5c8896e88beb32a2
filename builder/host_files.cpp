#ifdef _WIN32
#define _CRT_RAND_S // declares rand_s (the system's random source) in stdlib.h
#include <stdlib.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <time.h>
#endif

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "build_error.h"
#include "host_files.h"
#include "path_guards.h"
#include "unicode_text.h"

namespace fs = std::filesystem;

fs::path pathFromUtf8(const std::string& text)
{
    return fs::u8path(text);
}

std::string pathToUtf8(const fs::path& path)
{
    return path.u8string();
}

static std::string reasonText()
{
    return strerror(errno);
}

#ifdef _WIN32
static FILE* openFile(const fs::path& path, const wchar_t* mode)
{
    return _wfopen(path.c_str(), mode);
}
#define READ_MODE L"rb"
#define WRITE_MODE L"wb"
#else
static FILE* openFile(const fs::path& path, const char* mode)
{
    return fopen(path.c_str(), mode);
}
#define READ_MODE "rb"
#define WRITE_MODE "wb"
#endif

static bool tryReadFileStart(const fs::path& path, size_t limit, std::vector<uint8_t>* out, std::string* reason)
{
    // Room for the whole file at once: growing the buffer step by step would hold up to three times its
    // size while the last step copies.
    std::vector<uint8_t>& bytes = *out;
    bytes.clear();
    std::error_code error;
    uintmax_t expected = fs::file_size(path, error);
    if (!error && expected < bytes.max_size())
        bytes.reserve(expected < limit ? (size_t)expected : limit);
    FILE* f = openFile(path, READ_MODE);
    if (!f) {
        *reason = reasonText();
        return false;
    }
    uint8_t chunk[65536];
    size_t n;
    while (bytes.size() < limit
           && (n = fread(chunk, 1, limit - bytes.size() < sizeof chunk ? limit - bytes.size() : sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        *reason = "read error";
        return false;
    }
    return true;
}

std::vector<uint8_t> readFileStart(const fs::path& path, size_t limit)
{
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!tryReadFileStart(path, limit, &bytes, &reason))
        throw BuildError("cannot read " + pathToUtf8(path) + ": " + reason);
    return bytes;
}

bool tryReadWholeFile(const fs::path& path, std::vector<uint8_t>* bytes, std::string* reason)
{
    return tryReadFileStart(path, bytes->max_size(), bytes, reason);
}

std::vector<uint8_t> readWholeFile(const fs::path& path)
{
    return readFileStart(path, std::vector<uint8_t>().max_size());
}

void writeWholeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = openFile(path, WRITE_MODE);
    if (!f)
        throw BuildError("cannot write " + pathToUtf8(path) + ": " + reasonText());
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok) {
        std::error_code ignored;
        fs::remove(path, ignored);
        throw BuildError("cannot write " + pathToUtf8(path) + ": write error (disk full?)");
    }
}

fs::path resolvedPath(const fs::path& path)
{
    std::error_code error;
    fs::path full = fs::absolute(path, error);
    if (error)
        full = path;
    // Up from the path itself to the nearest item that exists; each step drops one component.
    fs::path existing = full;
    fs::path rest;
    std::string reason;
    for (;;) {
        fs::path real = realPath(existing, &reason);
        if (!real.empty())
            return rest.empty() ? real : (real / rest).lexically_normal();
        if (!existing.has_relative_path())
            return full.lexically_normal();
        fs::path name = existing.filename();
        existing = existing.parent_path();
        if (!name.empty())
            rest = rest.empty() ? name : name / rest;
    }
}

uint32_t packDosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980)
        return packDosDateTime(1980, 1, 1, 0, 0, 0);
    if (year > 2107)
        return packDosDateTime(2107, 12, 31, 23, 59, 58);
    uint32_t date = (uint32_t)((year - 1980) << 9 | month << 5 | day);
    uint32_t time = (uint32_t)(hour << 11 | minute << 5 | second / 2);
    return date << 16 | time;
}

#ifdef _WIN32
static std::string windowsErrorText(DWORD code)
{
    wchar_t buffer[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, buffer, 512, NULL);
    while (n > 0 && (buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n' || buffer[n - 1] == L' ' || buffer[n - 1] == L'.'))
        n--;
    if (n == 0)
        return "Windows error " + std::to_string(code);
    return utf16ToUtf8(std::u16string(buffer, buffer + n));
}

fs::path realPath(const fs::path& path, std::string* reason)
{
    // Opening the item follows every link and junction on the way; the handle's final path is the
    // resolved one, "\\?\C:\..." or "\\?\UNC\server\...".
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        *reason = windowsErrorText(GetLastError());
        return fs::path();
    }
    std::wstring buffer(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, &buffer[0], (DWORD)buffer.size(), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    DWORD code = GetLastError();
    CloseHandle(h);
    if (n == 0 || n >= buffer.size()) {
        *reason = windowsErrorText(code);
        return fs::path();
    }
    buffer.resize(n);
    if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        buffer = L"\\\\" + buffer.substr(8);
    else if (buffer.compare(0, 4, L"\\\\?\\") == 0)
        buffer = buffer.substr(4);
    return fs::path(buffer);
}

bool isLink(const fs::path& path, const fs::path& expectedReal)
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(path.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FindClose(h);
    // Name surrogates (symbolic links, junctions) stand for another item; other reparse points (cloud
    // placeholders, deduplicated files) are the file itself. Wine names no tag (0) for a link.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
    std::string reason;
    fs::path real = realPath(path, &reason);
    return !real.empty() && !(pathLiesWithin(real, expectedReal, true) && pathLiesWithin(expectedReal, real, true));
}

bool hostIgnoresCase()
{
    return true;
}

uint32_t fileDosDateTime(const fs::path& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    SYSTEMTIME utc;
    SYSTEMTIME t;
    // SystemTimeToTzSpecificLocalTime applies the daylight-saving rule of that date, as localtime does;
    // FileTimeToLocalFileTime would apply today's.
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
        || !FileTimeToSystemTime(&data.ftLastWriteTime, &utc) || !SystemTimeToTzSpecificLocalTime(NULL, &utc, &t))
        throw BuildError("cannot read the time of " + pathToUtf8(path));
    return packDosDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

fs::path ownExecutableFolder()
{
    wchar_t buffer[32768];
    DWORD n = GetModuleFileNameW(NULL, buffer, 32768);
    if (n == 0 || n >= 32768)
        return fs::path();
    return fs::path(buffer).parent_path();
}

void fillRandom(uint8_t* buffer, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        unsigned int value;
        if (rand_s(&value) != 0)
            throw BuildError("no random source for the encryption headers");
        buffer[i] = (uint8_t)value;
    }
}
#else
fs::path realPath(const fs::path& path, std::string* reason)
{
    char* resolved = realpath(path.c_str(), NULL);
    if (!resolved) {
        *reason = reasonText();
        return fs::path();
    }
    fs::path result(resolved);
    free(resolved);
    return result;
}

bool isLink(const fs::path& path, const fs::path&)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool hostIgnoresCase()
{
    return false;
}

uint32_t fileDosDateTime(const fs::path& path)
{
    struct stat st;
    struct tm t;
    if (stat(path.c_str(), &st) != 0 || !localtime_r(&st.st_mtime, &t))
        throw BuildError("cannot read the time of " + pathToUtf8(path) + ": " + reasonText());
    return packDosDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

fs::path ownExecutableFolder()
{
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

void fillRandom(uint8_t* buffer, size_t count)
{
    FILE* f = fopen("/dev/urandom", "rb");
    bool ok = f && fread(buffer, 1, count, f) == count;
    if (f)
        fclose(f);
    if (!ok)
        throw BuildError("no random source for the encryption headers (/dev/urandom)");
}
#endif
