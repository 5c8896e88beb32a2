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

std::vector<uint8_t> readFileStart(const fs::path& path, size_t limit)
{
    // Room for the whole file at once: growing the buffer step by step would hold up to three times its
    // size while the last step copies.
    std::vector<uint8_t> bytes;
    std::error_code error;
    uintmax_t expected = fs::file_size(path, error);
    if (!error && expected < bytes.max_size())
        bytes.reserve(expected < limit ? (size_t)expected : limit);
    FILE* f = openFile(path, READ_MODE);
    if (!f)
        throw BuildError("cannot read " + pathToUtf8(path) + ": " + reasonText());
    uint8_t chunk[65536];
    size_t n;
    while (bytes.size() < limit
           && (n = fread(chunk, 1, limit - bytes.size() < sizeof chunk ? limit - bytes.size() : sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed)
        throw BuildError("cannot read " + pathToUtf8(path) + ": read error");
    return bytes;
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
