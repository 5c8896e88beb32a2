// Extraction end to end: real self-extracting files run with /AUTO under Wine.
//   - Archives from independent producers (made by make_extract_fixtures.sh on the Linux side) extract to
//     the same tree as Linux unzip gives: same names, same bytes, and the same DOS time read as local time.
//   - Hand-made archives for what no producer writes (bad records, damaged data, hostile names), spliced
//     into a built file in place of its archive, stop with their exact message; and one the building tool
//     accepts because it cannot decode an encrypted entry, which hides records inside that entry's data.
//   - The interactive paths: the overwrite prompt, the cancel question while a large entry is written,
//     a read-only file, a full disk, a wrong or missing password.
//   - Replacing: a file that an entry replaces stays as it was when the entry fails or the run is
//     cancelled in the middle of it; a second run over the first gives the same files.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>

#include "decode/cipher.h"
#include "decode/crc32.h"
#include "test_files.h"
#include "ui_driver.h"

namespace {

const std::wstring kCaption = L"Arklet Self-Extractor";
const std::wstring kPassword = L"geheim 123";
enum : int { ID_FOLDER = 106, ID_STATUS = 109, ID_PASSWORD = 402 };
enum : uint32_t { SFXF_OVERWRITE_DEFAULT = 0x2, SFXF_ASK_PASSWORD = 0x100 };

std::wstring fixture(const std::wstring& name)
{
    return buildProgram((L"fixtures\\extract\\" + name).c_str());
}

bool isMainDialog(const SeenWindow& w) { return w.hasControl(ID_FOLDER); }
bool isPasswordDialog(const SeenWindow& w) { return w.hasControl(ID_PASSWORD); }

void setText(HWND window, const std::wstring& text)
{
    SendMessageTimeoutW(window, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 2000, nullptr);
}

std::vector<std::wstring> boxTexts(const RunResult& run)
{
    std::vector<std::wstring> texts;
    for (const auto& w : run.seen)
        if (w.isMessageBox()) {
            EXPECT_EQ(w.caption, kCaption) << narrow(w.text);
            texts.push_back(w.text);
        }
    return texts;
}

std::wstring joined(const std::vector<std::wstring>& texts)
{
    std::wstring out;
    for (const auto& t : texts)
        out += L"[" + t + L"]";
    return out;
}

// Runs exe /AUTO target. The password dialog gets password typed and OK (Cancel without one); every
// other window goes to onWindow, by default: the main dialog is left alone (automatic mode drives it, and
// the usual Close would race it), a message box gets its first button.
RunResult runAuto(const std::wstring& exe, const std::wstring& target, const std::wstring& password = L"",
                  const Answer& onWindow = nullptr, DWORD timeoutMs = 30000, const std::wstring& more = L"")
{
    return runProgram(exe, L" /AUTO " + quote(target.substr(0, target.size() - 1)) + more,
                      [&](const SeenWindow& w, HWND h) -> int {
                          if (onWindow && !isPasswordDialog(w))
                              return onWindow(w, h);
                          if (isMainDialog(w))
                              return 0;
                          if (isPasswordDialog(w)) {
                              EXPECT_EQ(w.caption, L"Arklet Self-Extractor - Wachtwoord");
                              if (password.empty())
                                  return IDCANCEL;
                              setText(GetDlgItem(h, ID_PASSWORD), password);
                              return IDOK;
                          }
                          return defaultAnswer(w, h);
                      },
                      timeoutMs);
}

// ---- Trees ----

struct TreeItem {
    bool folder = false;
    std::vector<uint8_t> bytes;
    FILETIME written = {};
};

void readTree(const std::wstring& folder, const std::wstring& relative, std::map<std::wstring, TreeItem>& out)
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + relative + L"*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        TreeItem item;
        item.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        item.written = found.ftLastWriteTime;
        if (item.folder) {
            readTree(folder, relative + name + L"\\", out);
        } else {
            item.bytes = readWhole(folder + relative + name);
        }
        out[relative + name] = std::move(item);
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

std::map<std::wstring, TreeItem> treeOf(const std::wstring& folder)
{
    std::map<std::wstring, TreeItem> tree;
    readTree(folder, L"", tree);
    return tree;
}

uint64_t ticks(const FILETIME& t) { return ((uint64_t)t.dwHighDateTime << 32) | t.dwLowDateTime; }

// unzip reads the DOS time as local time at that date (summer or winter time); the stub converts it with
// the bias in force now (LocalFileTimeToFileTime), as the system's own DOS-time functions do. Given what
// unzip set, this is what the stub must set.
FILETIME stubTimeFor(const FILETIME& unzipTime)
{
    SYSTEMTIME utc, local;
    FileTimeToSystemTime(&unzipTime, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    FILETIME localTime, result;
    SystemTimeToFileTime(&local, &localTime);
    LocalFileTimeToFileTime(&localTime, &result);
    return result;
}

void expectSameTree(const std::wstring& reference, const std::wstring& extracted)
{
    std::map<std::wstring, TreeItem> want = treeOf(reference), got = treeOf(extracted);
    ASSERT_FALSE(want.empty()) << "no reference tree in " << narrow(reference);
    for (const auto& [name, item] : want) {
        auto it = got.find(name);
        if (it == got.end()) {
            ADD_FAILURE() << "missing: " << narrow(name);
            continue;
        }
        EXPECT_EQ(it->second.folder, item.folder) << narrow(name);
        if (item.folder)
            continue; // the stub does not date folders
        EXPECT_TRUE(it->second.bytes == item.bytes)
            << narrow(name) << ": " << it->second.bytes.size() << " bytes, unzip gives " << item.bytes.size();
        EXPECT_EQ(ticks(it->second.written), ticks(stubTimeFor(item.written)))
            << narrow(name) << " (unzip: " << ticks(item.written) << ")";
    }
    for (const auto& [name, item] : got)
        EXPECT_TRUE(want.count(name)) << "extra: " << narrow(name);
}

// ---- Archives from other producers ----

TEST(Producers, ExtractLikeUnzip)
{
    struct Case {
        const wchar_t* name;
        std::wstring password;
    } cases[] = {
        {L"infozip", L""},
        {L"infozip-enc", kPassword}, // flag bit 3: the check byte comes from the time
        {L"7z-enc", kPassword},      // the check byte comes from the CRC
        {L"python", L""},            // empty file, folder entry, Unicode names
        {L"python-stream", L""},     // data descriptors
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(narrow(c.name));
        // Not "producer-infozip": "-info" anywhere on the command line asks for the build options.
        std::wstring dir = scratchFolder(std::wstring(L"producer_") + c.name);
        std::wstring exe = dir + L"setup.exe";
        ASSERT_NO_FATAL_FAILURE(buildSfx(L"-o " + quote(exe) + L" " + quote(fixture(std::wstring(c.name) + L".zip"))));
        std::wstring target = dir + L"doel\\";
        RunResult run = runAuto(exe, target, c.password);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(boxTexts(run).empty()) << narrow(run.describe());
        int passwordDialogs = 0;
        for (const auto& w : run.seen)
            passwordDialogs += isPasswordDialog(w);
        EXPECT_EQ(passwordDialogs, c.password.empty() ? 0 : 1);
        ASSERT_NO_FATAL_FAILURE(expectSameTree(fixture(L"ref\\" + std::wstring(c.name) + L"\\"), target));
    }
}

// ---- Hand-made archives ----

uint32_t crc32Of(const std::string& data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return crc ^ 0xFFFFFFFFu;
}

// A ZIP archive written record by record, for what no producer writes.
struct RawZip {
    std::vector<uint8_t> bytes;

    void u16(uint32_t v) { bytes.push_back((uint8_t)v); bytes.push_back((uint8_t)(v >> 8)); }
    void u32(uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
    void raw(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }

    struct Entry {
        std::string name;
        std::string data;           // stored as it is
        uint16_t method = 0;
        uint16_t flags = 0;
        uint32_t crc = ~0u;         // ~0: the CRC-32 of data (give the decoded bytes' one for method 8)
        uint32_t crcChange = 0;     // XORed into the right CRC-32
        uint32_t compressed = ~0u;   // ~0: the data's length
        uint32_t uncompressed = ~0u; // ~0: the data's length
        uint16_t time = 0x6000;     // 12:00:00
        uint16_t date = 0x5021;     // 2020-01-01
    };

    static uint32_t crcOf(const Entry& e) { return e.crc == ~0u ? crc32Of(e.data) : e.crc; }
    static uint32_t sizeOr(uint32_t size, const std::string& data) { return size == ~0u ? (uint32_t)data.size() : size; }

    void local(const Entry& e)
    {
        u32(0x04034B50);                          // signature
        u16(20);                                  // version needed
        u16(e.flags);                             // flags
        u16(e.method);                            // method
        u16(e.time);                              // time
        u16(e.date);                              // date
        u32(crcOf(e) ^ e.crcChange);              // CRC-32
        u32(sizeOr(e.compressed, e.data));       // compressed size
        u32(sizeOr(e.uncompressed, e.data));     // uncompressed size
        u16((uint32_t)e.name.size());             // name length
        u16(0);                                   // extra length
        raw(e.name);
        raw(e.data);
    }
    void central(const std::string& name, uint32_t size, uint32_t offset)
    {
        u32(0x02014B50);          // signature
        u16(20);                  // version made by
        u16(20);                  // version needed
        u16(0);                   // flags
        u16(0);                   // method
        u16(0x6000);              // time
        u16(0x5021);              // date
        u32(crc32Of(name));       // CRC-32 (not the entry's: never read)
        u32(size);                // compressed size
        u32(size);                // uncompressed size
        u16((uint32_t)name.size()); // name length
        u16(4);                   // extra length
        u16(3);                   // comment length
        u16(0);                   // disk number start
        u16(0);                   // internal attributes
        u32(0);                   // external attributes
        u32(offset);              // local header offset
        raw(name);
        raw("XXXX");              // extra field
        raw("abc");               // comment
    }
    // A central header that tells the truth about e, as the building tool wants it.
    void centralOf(const Entry& e, uint32_t offset)
    {
        u32(0x02014B50);          // signature
        u16(20);                  // version made by
        u16(20);                  // version needed
        u16(e.flags);             // flags
        u16(e.method);            // method
        u16(e.time);              // time
        u16(e.date);              // date
        u32(crcOf(e));            // CRC-32
        u32(sizeOr(e.compressed, e.data));   // compressed size
        u32(sizeOr(e.uncompressed, e.data)); // uncompressed size
        u16((uint32_t)e.name.size()); // name length
        u32(0);                   // extra and comment lengths
        u32(0);                   // disk number start, internal attributes
        u32(0);                   // external attributes
        u32(offset);              // local header offset
        raw(e.name);
    }
    void end(uint32_t signature = 0x06054B50, uint16_t entries = 1, uint32_t centralSize = 46,
             uint32_t centralOffset = 12345)
    {
        u32(signature);           // end record (or digital signature record)
        u16(0);                   // this disk
        u16(0);                   // disk of the central directory
        u16(entries);             // entries on this disk
        u16(entries);             // entries in all
        u32(centralSize);         // central directory size
        u32(centralOffset);       // central directory offset
        u16(2);                   // comment length
        raw("ok");                // comment
    }
};

RawZip::Entry entry(const std::string& name, const std::string& data)
{
    RawZip::Entry e;
    e.name = name;
    e.data = data;
    return e;
}

// The building tool refuses most of these archives, so a sound file is built and its archive replaced:
// the archive lies outside the header CRC's range, and with its end record offset at 0 the stub does not
// look for an end record at start-up.
std::wstring spliceSfx(const std::wstring& folderName, const std::vector<uint8_t>& archive, uint32_t clearFlags = 0,
                       uint32_t setFlags = 0)
{
    static std::vector<uint8_t> base;
    if (base.empty()) {
        std::wstring dir = scratchFolder(L"splice-base");
        CreateDirectoryW((dir + L"payload").c_str(), nullptr);
        writeText(dir + L"payload\\x.txt", "x");
        buildSfx(L"--crc none -o " + quote(dir + L"base.exe") + L" " + quote(dir + L"payload"));
        base = readWhole(dir + L"base.exe");
    }
    // A failed build above is a fatal failure: the caller checks HasFatalFailure and ends its test.
    if (base.empty())
        return L"";
    size_t block = blockOffset(base);
    std::vector<uint8_t> file(base.begin(), base.begin() + le32(base, block + 12));
    file.insert(file.end(), archive.begin(), archive.end());
    if (file.size() < base.size())
        file.resize(base.size(), 0); // the section's raw size stays inside the file
    putLe32(file, block + 20, 0);
    putLe32(file, block + 28, (le32(file, block + 28) & ~clearFlags) | setFlags);
    std::wstring exe = scratchFolder(folderName) + L"setup.exe";
    writeWhole(exe, file);
    return exe;
}

std::string readText(const std::wstring& path)
{
    std::vector<uint8_t> bytes = readWhole(path);
    return std::string(bytes.begin(), bytes.end());
}

// A UTF-8 name as the system decodes it (bytes that are no UTF-8 become U+FFFD).
std::wstring widen(const std::string& s)
{
    std::wstring out(s.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &out[0], (int)out.size());
    out.resize(n > 0 ? n : 0);
    return out;
}

const std::wstring kBadHeader = L"Ongeldige ZIP-header. Mogelijke oorzaak: bestandsoverdrachtfout.";
const std::wstring kNameTooLong = L"Zip file bevat bestandsnamen die langer zijn dan toegestaan\ndoor Windows. "
                                  L"Arklet Self-Extractor kan deze\nZip file niet verwerken.";

std::wstring crcMessage(const std::wstring& path, uint32_t computed, uint32_t stored)
{
    wchar_t text[400];
    swprintf(text, 400,
             L"ZIP beschadigd: bestand %ls: ongeldige CRC %08lx (moet %08lx zijn). Mogelijke oorzaak: "
             L"bestandsoverdrachtfout.",
             path.c_str(), (unsigned long)computed, (unsigned long)stored);
    return text;
}

// A deflate stream of one final stored block (BFINAL 1, BTYPE 00) of n copies of c: LEN, NLEN, the bytes.
std::string storedDeflateStream(uint16_t n, char c)
{
    std::string stream = "\x01";
    for (uint16_t v : {n, (uint16_t)~n}) {
        stream += (char)(v & 0xFF);
        stream += (char)(v >> 8);
    }
    return stream + std::string(n, c);
}

TEST(HandMade, RecordsAndDamage)
{
    struct Case {
        const char* what;
        std::function<void(RawZip&)> make;
        // The one box expected (empty: none); %T stands for the target folder.
        std::wstring message;
        std::vector<std::pair<std::wstring, std::string>> present; // file and content
        std::vector<std::wstring> absent;
        uint16_t expectDate = 0, expectTime = 0; // a.txt's DOS time after clamping, when given
    } cases[] = {
        {"central directory disagrees with the local headers, other order",
         [](RawZip& z) {
             z.local(entry("b/second.txt", "tweede"));
             z.local(entry("a.txt", "eerste"));
             z.central("a.txt", 999, 77);
             z.central("een/heel/andere/naam.txt", 1, 0);
             z.central("", 0, 0);
             z.end(0x06054B50, 9);
         },
         L"", {{L"a.txt", "eerste"}, {L"b\\second.txt", "tweede"}}, {}},
        {"spanning marker first, digital signature record last",
         [](RawZip& z) {
             z.raw("PK00");
             z.local(entry("a.txt", "eerste"));
             z.central("a.txt", 6, 0);
             z.end(0x05054B50);
             z.raw("rommel na het einde");
         },
         L"", {{L"a.txt", "eerste"}}, {}},
        {"folder entry with data but uncompressed size 0: the data is passed over",
         [](RawZip& z) {
             RawZip::Entry folder = entry("map/", "XXXXXXXX");
             folder.uncompressed = 0;
             z.local(folder);
             z.local(entry("a.txt", "eerste"));
             z.end();
         },
         L"", {{L"a.txt", "eerste"}}, {}},
        {"unknown method without data is not looked at",
         [](RawZip& z) {
             RawZip::Entry e = entry("a.txt", "");
             e.method = 12;
             z.local(e);
             z.end();
         },
         L"", {{L"a.txt", ""}}, {}},
        {"DOS time out of range is clamped",
         [](RawZip& z) {
             RawZip::Entry e = entry("a.txt", "eerste");
             e.time = (23 << 11) | (59 << 5) | 31; // 23:59:62
             e.date = (21 << 9) | (0 << 5) | 0;    // 2001, month 0, day 0
             z.local(e);
             z.end();
         },
         L"", {{L"a.txt", "eerste"}}, {}, (21 << 9) | (1 << 5) | 1, (23 << 11) | (59 << 5) | 29},
        {"unknown signature after the first entry",
         [](RawZip& z) {
             z.local(entry("a.txt", "eerste"));
             z.raw("JUNK");
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         kBadHeader, {{L"a.txt", "eerste"}}, {L"b.txt"}},
        {"data descriptor signature where a record should start",
         [](RawZip& z) {
             z.local(entry("a.txt", "eerste"));
             z.raw("PK\x07\x08");
             z.end();
         },
         kBadHeader, {{L"a.txt", "eerste"}}, {}},
        {"compressed size of 2 GiB: refused, not skipped backwards",
         [](RawZip& z) {
             z.local(entry("a.txt", "eerste"));
             RawZip::Entry e = entry("map/", "");
             e.compressed = 0x80000010;
             e.uncompressed = 0;
             z.local(e);
             z.end();
         },
         kBadHeader, {{L"a.txt", "eerste"}}, {}},
        {"CRC mismatch: the file stays",
         [](RawZip& z) {
             RawZip::Entry e = entry("a.txt", "eerste");
             e.crcChange = 0x80000001;
             z.local(e);
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         crcMessage(L"%Ta.txt", crc32Of("eerste"), crc32Of("eerste") ^ 0x80000001), {{L"a.txt", "eerste"}},
         {L"b.txt"}},
        {"stored data longer than the declared size: nothing past it is written",
         [](RawZip& z) {
             RawZip::Entry e = entry("a.txt", std::string(5000, 'x'));
             e.uncompressed = 100;
             z.local(e);
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         crcMessage(L"%Ta.txt", crc32Of(""), crc32Of(std::string(5000, 'x'))), {{L"a.txt", ""}}, {L"b.txt"}},
        {"deflate stream that inflates past the declared size",
         [](RawZip& z) {
             RawZip::Entry e = entry("bom.bin", storedDeflateStream(5000, 'y'));
             e.method = 8;
             e.uncompressed = 10;
             z.local(e);
             z.end();
         },
         crcMessage(L"%Tbom.bin", crc32Of(""), crc32Of(storedDeflateStream(5000, 'y'))), {{L"bom.bin", ""}}, {}},
        {"stored data shorter than the declared size, with the CRC-32 of what it holds",
         [](RawZip& z) {
             RawZip::Entry e = entry("a.txt", "eerste");
             e.uncompressed = 10;
             z.local(e);
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         crcMessage(L"%Ta.txt", crc32Of("eerste"), crc32Of("eerste")), {{L"a.txt", "eerste"}}, {L"b.txt"}},
        {"deflate stream that inflates to less than the declared size, with the CRC-32 of what it gives",
         [](RawZip& z) {
             RawZip::Entry e = entry("kort.txt", storedDeflateStream(5, 'y'));
             e.method = 8;
             e.crc = crc32Of("yyyyy");
             e.uncompressed = 10;
             z.local(e);
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         crcMessage(L"%Tkort.txt", crc32Of("yyyyy"), crc32Of("yyyyy")), {{L"kort.txt", "yyyyy"}}, {L"b.txt"}},
        {"deflate stream that ends before the entry's data does: the bytes after it are no record",
         [](RawZip& z) {
             RawZip hidden;
             hidden.local(entry("verstopt.txt", "verstopt"));
             RawZip::Entry e = entry("a.txt", storedDeflateStream(5, 'y') + std::string(hidden.bytes.begin(), hidden.bytes.end()));
             e.method = 8;
             e.crc = crc32Of("yyyyy");
             e.uncompressed = 5;
             z.local(e);
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         crcMessage(L"%Ta.txt", crc32Of("yyyyy"), crc32Of("yyyyy")), {{L"a.txt", "yyyyy"}}, {L"verstopt.txt", L"b.txt"}},
        {"damaged deflate stream whose (empty) output has the declared size and CRC-32",
         [](RawZip& z) {
             // A stored block of "abc" that is not the last, then a last block of the reserved type 3: the
             // decoder stops with an error before it hands over any output.
             // Bytes: BFINAL 0 and BTYPE 00, LEN 3, NLEN, "abc"; then BFINAL 1 and BTYPE 11.
             RawZip::Entry e = entry("a.txt", std::string("\x00\x03\x00\xFC\xFF" "abc" "\x07", 9));
             e.method = 8;
             e.crc = 0;
             e.uncompressed = 0;
             z.local(e);
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         crcMessage(L"%Ta.txt", 0, 0), {{L"a.txt", ""}}, {L"b.txt"}},
        {"folder entry that declares contents: its data is passed over, not read as a record",
         [](RawZip& z) {
             RawZip hidden;
             hidden.local(entry("verstopt.txt", "verstopt"));
             RawZip::Entry folder = entry("map/", std::string(hidden.bytes.begin(), hidden.bytes.end()));
             folder.uncompressed = 5;
             z.local(folder);
             z.local(entry("a.txt", "eerste"));
             z.end();
         },
         L"", {{L"a.txt", "eerste"}}, {L"verstopt.txt"}},
        {"a zero byte inside a name: refused, not cut short",
         [](RawZip& z) {
             z.local(entry(std::string("a\0b.txt", 7), "x"));
             z.end();
         },
         L"Kan 'a\xFFFD" L"b.txt' niet maken - uitpakbewerking geannuleerd.", {}, {L"a", L"a\xFFFD" L"b.txt"}},
        {"unsupported method",
         [](RawZip& z) {
             z.local(entry("a.txt", "eerste"));
             RawZip::Entry e = entry("m.txt", "abcdef");
             e.method = 12;
             z.local(e);
             z.local(entry("b.txt", "tweede"));
             z.end();
         },
         L"Niet-ondersteunde compressiemethode", {{L"a.txt", "eerste"}}, {L"b.txt"}},
        {"stored name over 263 bytes",
         [](RawZip& z) {
             z.local(entry("a.txt", "eerste"));
             z.local(entry(std::string(264, 'n'), "x"));
             z.end();
         },
         kNameTooLong, {{L"a.txt", "eerste"}}, {}},
        {"name of 260 characters",
         [](RawZip& z) {
             z.local(entry("a.txt", "eerste"));
             z.local(entry(std::string(260, 'n'), "x"));
             z.end();
         },
         kNameTooLong, {{L"a.txt", "eerste"}}, {}},
        {"central directory name too long, after the entries",
         [](RawZip& z) {
             z.local(entry("a.txt", "eerste"));
             z.central(std::string(270, 'c'), 6, 0);
             z.end();
         },
         kNameTooLong, {{L"a.txt", "eerste"}}, {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawZip zip;
        c.make(zip);
        std::wstring exe = spliceSfx(L"handmade" + std::to_wstring(n), zip.bytes);
        if (HasFatalFailure())
            return;
        std::wstring target = scratchFolder(L"handmade" + std::to_wstring(n++) + L"-doel");
        std::wstring message = c.message;
        if (size_t at = message.find(L"%T"); at != std::wstring::npos)
            message.replace(at, 2, target);
        RunResult run = runAuto(exe, target);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        std::vector<std::wstring> boxes = boxTexts(run);
        if (message.empty())
            EXPECT_TRUE(boxes.empty()) << narrow(joined(boxes));
        else
            EXPECT_EQ(boxes, std::vector<std::wstring>{message}) << narrow(joined(boxes));
        EXPECT_EQ(run.exitCode, message.empty() ? 0u : 1u) << "a damaged file fails";
        for (const auto& [name, content] : c.present)
            EXPECT_EQ(readText(target + name), content) << narrow(name);
        for (const auto& name : c.absent)
            EXPECT_FALSE(exists(target + name)) << narrow(name);
        if (c.expectDate) {
            FILETIME local, want, got = {};
            DosDateTimeToFileTime(c.expectDate, c.expectTime, &local);
            LocalFileTimeToFileTime(&local, &want);
            HANDLE f = CreateFileW((target + L"a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            GetFileTime(f, nullptr, nullptr, &got);
            CloseHandle(f);
            EXPECT_EQ(ticks(got), ticks(want));
        }
    }
}

// The traditional encryption of data (its 12-byte header first), with the project's own cipher.
std::string encrypted(const std::string& plain, const char* password, uint32_t crc)
{
    static bool tableBuilt = false;
    if (!tableBuilt) {
        buildCrcTable();
        tableBuilt = true;
    }
    std::string bytes = "0123456789a"; // header bytes 0-10: any value
    bytes += (char)encryptionCheckByte(0, crc, 0);
    bytes += plain;
    initKeys(password);
    encryptBuffer((uint8_t*)&bytes[0], (uint32_t)bytes.size());
    wipeKeys();
    return bytes;
}

// An encrypted deflated entry whose stream ends early, its data going on with local headers in plain
// text: one for a name the archive lists, one for a name it does not. The building tool cannot decode
// the entry without the password, and other tools list only the entries of the central directory. The
// hidden records start where the first input piece of 64 KiB after the encryption header ends, which is
// where a reader that follows the decoder's input would look for the next record.
TEST(HandMade, RecordsHiddenInAnEncryptedEntryAreNeverRead)
{
    const std::string listed = "het echte programma 23b";
    const std::string text = "Lees mij eerst.\r\n";
    RawZip hidden;
    hidden.local(entry("setup.exe", "geplant programma!!"));
    hidden.local(entry("version.dll", "geplante bibliotheek"));
    std::string stream = storedDeflateStream((uint16_t)text.size(), ' ');
    stream.replace(5, text.size(), text);
    stream.resize(65536, 'z'); // filler after the stream, up to the end of the first piece

    RawZip z;
    RawZip::Entry program = entry("setup.exe", listed);
    RawZip::Entry readme = entry("liesmij.txt", "");
    readme.method = 8;
    readme.flags = 1; // encrypted
    readme.crc = crc32Of(text);
    readme.uncompressed = (uint32_t)text.size();
    readme.data = encrypted(stream, "geheim 123", readme.crc) + std::string(hidden.bytes.begin(), hidden.bytes.end());
    z.local(program);
    const uint32_t readmeOffset = (uint32_t)z.bytes.size();
    z.local(readme);
    const uint32_t centralOffset = (uint32_t)z.bytes.size();
    z.centralOf(program, 0);
    z.centralOf(readme, readmeOffset);
    z.end(0x06054B50, 2, (uint32_t)z.bytes.size() - centralOffset, centralOffset);

    std::wstring dir = scratchFolder(L"hidden-records");
    ASSERT_NO_FATAL_FAILURE(writeWhole(dir + L"in.zip", z.bytes));
    ASSERT_NO_FATAL_FAILURE(buildSfx(L"--overwrite -o " + quote(dir + L"setup.exe") + L" " + quote(dir + L"in.zip")));
    std::wstring target = dir + L"doel\\";
    RunResult run = runAuto(dir + L"setup.exe", target, kPassword);
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(boxTexts(run), std::vector<std::wstring>{crcMessage(target + L"liesmij.txt", readme.crc, readme.crc)})
        << narrow(run.describe());
    EXPECT_EQ(run.exitCode, 1u) << "damage";
    EXPECT_EQ(readText(target + L"setup.exe"), listed) << "the listed program is not replaced";
    EXPECT_FALSE(exists(target + L"version.dll")) << "no file the archive does not list";
}

std::vector<std::wstring> namesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const auto& [name, item] : treeOf(folder))
        if (name.find(L'\\') == std::wstring::npos)
            names.push_back(name);
    return names;
}

TEST(HandMade, HostileNamesStopTheRunAndWriteNothingOutside)
{
    // The target is a folder two levels down in a folder of its own, so anything that escapes it shows up
    // in "outer" or "outer\inner".
    const char* names[] = {
        "../evil.txt", "sub/../../evil.txt", "..\\evil.txt", "../evil/", "C:evil.txt", "C:/evil.txt",
        "//server/share/evil.txt", "sub//evil.txt", "evil.txt:stroom", "CON", "aux.txt", "sub/nul",
        "evil.txt.", "evil.txt ", "... /evil.txt", "evil?.txt", "CON .txt", "COM\xC2\xB9", "LPT\xC2\xB2.txt",
        "bad\xC3(.txt", "\xFF\xFE.txt",
    };
    int n = 0;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        RawZip zip;
        zip.local(entry("a.txt", "eerste"));
        zip.local(entry(name, "kwaad"));
        zip.end();
        std::wstring exe = spliceSfx(L"hostile" + std::to_wstring(n), zip.bytes);
        if (HasFatalFailure())
            return;
        std::wstring outer = scratchFolder(L"hostile" + std::to_wstring(n++) + L"-outer");
        CreateDirectoryW((outer + L"inner").c_str(), nullptr);
        std::wstring target = outer + L"inner\\doel\\";
        RunResult run = runAuto(exe, target);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(boxTexts(run), std::vector<std::wstring>{L"Kan '" + widen(name)
                                                           + L"' niet maken - uitpakbewerking geannuleerd."})
            << narrow(run.describe());
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(namesIn(outer), std::vector<std::wstring>{L"inner"});
        EXPECT_EQ(namesIn(outer + L"inner\\"), std::vector<std::wstring>{L"doel"});
        EXPECT_EQ(namesIn(target), std::vector<std::wstring>{L"a.txt"});
        EXPECT_FALSE(exists(L"C:\\evil.txt"));
    }
}

// ---- Interactive paths ----

using Files = std::vector<std::pair<std::wstring, std::string>>;

// Builds setup.exe in a fresh folder from a payload folder holding files (the tool packs them sorted by name;
// a name with '\\' makes its folders).
std::wstring sfxOf(const std::wstring& folderName, const Files& files, const std::wstring& options = L"")
{
    std::wstring dir = scratchFolder(folderName);
    std::wstring payload = dir + L"payload\\";
    CreateDirectoryW(payload.c_str(), nullptr);
    for (const auto& [name, content] : files) {
        for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1))
            CreateDirectoryW((payload + name.substr(0, at)).c_str(), nullptr);
        writeText(payload + name, content);
    }
    buildSfx(options + L" -o " + quote(dir + L"setup.exe") + L" " + quote(payload));
    return dir + L"setup.exe";
}

// The status line as it stands when the dialog ends. With -parent= the main dialog is owned by a window of
// this program; ending the dialog enables that owner again by a message sent here, while the stub waits
// for it, so the status line can be read at that moment.
HWND watchedDialog;
std::wstring statusAtEnd;

LRESULT CALLBACK ownerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ENABLE && wParam && watchedDialog) {
        wchar_t text[256] = L"";
        GetWindowTextW(GetDlgItem(watchedDialog, ID_STATUS), text, 256);
        statusAtEnd = text;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeOwner()
{
    WNDCLASSW c = {};
    c.lpfnWndProc = ownerProc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"ExtractTestOwner";
    RegisterClassW(&c);
    return CreateWindowExW(0, c.lpszClassName, L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, c.hInstance,
                           nullptr);
}

TEST(Interactive, OverwritePromptYesNoCancel)
{
    std::wstring exe = sfxOf(L"overwrite", {{L"a.txt", "nieuw a"}, {L"b.txt", "nieuw b"}, {L"c.txt", "nieuw c"},
                                            {L"d.txt", "nieuw d"}});
    if (HasFatalFailure())
        return;
    std::wstring target = scratchFolder(L"overwrite-doel");
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt", L"d.txt"}) {
        ASSERT_NO_FATAL_FAILURE(writeText(target + name, "oud"));
    }
    const int answers[] = {IDYES, IDNO, IDCANCEL};
    std::vector<std::wstring> prompts;
    HWND owner = makeOwner();
    ASSERT_NE(owner, nullptr);
    watchedDialog = nullptr;
    statusAtEnd = L"(not seen)";
    RunResult run = runProgram(exe, L" /AUTO -parent=" + std::to_wstring((UINT_PTR)owner) + L" " + quote(target),
                               [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            watchedDialog = h;
            return 0;
        }
        prompts.push_back(w.text);
        EXPECT_EQ(w.buttons(), (std::vector<int>{IDYES, IDNO, IDCANCEL})) << narrow(w.text);
        return prompts.size() <= 3 ? answers[prompts.size() - 1] : defaultAnswer(w, h);
    });
    DestroyWindow(owner);
    ASSERT_FALSE(run.timedOut) << "Cancel ends the run and the dialog\n" << narrow(run.describe());
    std::vector<std::wstring> expected;
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt"})
        expected.push_back(L"Bestand " + target + name + L" bestaat al. Bestand overschrijven?");
    EXPECT_EQ(prompts, expected) << narrow(run.describe());
    EXPECT_EQ(readText(target + L"a.txt"), "nieuw a") << "Yes replaces";
    EXPECT_EQ(readText(target + L"b.txt"), "oud") << "No keeps the file and goes on";
    EXPECT_EQ(readText(target + L"c.txt"), "oud") << "Cancel touches nothing";
    EXPECT_EQ(readText(target + L"d.txt"), "oud") << "nothing after Cancel";
    EXPECT_EQ(statusAtEnd, L"Uitpakken afgebroken");
    EXPECT_EQ(run.exitCode, 2u) << "stopped by the user";
}

uint64_t sizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// A deflate stream of n zero bytes (n >= 4) in one final block with the fixed codes (BFINAL 1, BTYPE 01):
// a literal 0, matches of length 258 at distance 1 (symbol 285, 8 bits 11000101, no extra bits; distance
// code 0, 5 bits), the rest as literals 0 (8 bits 00110000), end of block (symbol 256, 7 bits 0000000).
// About 13 bits per 258 bytes. Huffman codes go most significant bit first into the least significant
// end of the bit stream, other fields least significant bit first.
std::string zerosDeflateStream(uint32_t n)
{
    std::string stream;
    uint32_t buffer = 0;
    int count = 0;
    auto bits = [&](uint32_t value, int width) {
        buffer |= value << count;
        for (count += width; count >= 8; count -= 8) {
            stream += (char)(buffer & 0xFF);
            buffer >>= 8;
        }
    };
    auto code = [&](uint32_t value, int width) {
        for (int i = width - 1; i >= 0; i--)
            bits((value >> i) & 1, 1);
    };
    bits(1, 1); // BFINAL
    bits(1, 2); // BTYPE 01: fixed codes
    code(0x30, 8);
    for (uint32_t i = 0; i < (n - 1) / 258; i++) {
        code(0xC5, 8);
        code(0, 5);
    }
    for (uint32_t i = 0; i < (n - 1) % 258; i++)
        code(0x30, 8);
    code(0, 7);
    if (count > 0)
        stream += (char)(buffer & 0xFF);
    return stream;
}

uint32_t crc32OfZeros(uint32_t n)
{
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
        table[i] = c;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < n; i++)
        crc = (crc >> 8) ^ table[crc & 0xFF];
    return crc ^ 0xFFFFFFFFu;
}

const uint32_t bigSize = 1u << 30;

// big.bin: bigSize bytes of zeros, deflated to some 6.5 MB, with its CRC.
RawZip::Entry gibibyteOfZeros()
{
    RawZip::Entry big = entry("big.bin", zerosDeflateStream(bigSize));
    big.method = 8;
    big.uncompressed = bigSize;
    big.crcChange = crc32Of(big.data) ^ crc32OfZeros(bigSize);
    return big;
}

// A 1 GiB entry (zeros, deflated to some 6.5 MB) is written for seconds: a click on the dialog once the file
// holds 1 MiB asks whether to stop, whenever the driver gets to it, however fast the output flows.
TEST(Interactive, CancelQuestionWhileWriting)
{
    RawZip zip;
    zip.local(gibibyteOfZeros());
    zip.local(entry("na.txt", "na"));
    zip.end();
    std::wstring exe = spliceSfx(L"cancel", zip.bytes);
    if (HasFatalFailure())
        return;
    for (int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
        std::wstring target = scratchFolder(L"cancel-doel");
        std::wstring bigPath = target + L"big.bin";
        std::wstring log = scratchFolder(L"cancel-log") + L"run.log";
        uint64_t sizeAtClick = 0;
        int questions = 0;
        RunResult run = runAuto(exe, target, L"", [&](const SeenWindow& w, HWND h) -> int {
            if (isMainDialog(w)) {
                for (DWORD start = GetTickCount(); sizeOf(bigPath) < (1u << 20) && GetTickCount() - start < 20000;)
                    Sleep(2);
                sizeAtClick = sizeOf(bigPath);
                PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
                PostMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
                return 0;
            }
            if (!w.isMessageBox())
                return 0;
            questions++;
            EXPECT_EQ(w.text, L"Uitpakbewerking afbreken?");
            EXPECT_EQ(w.buttons(), (std::vector<int>{IDYES, IDNO}));
            EXPECT_EQ(GetWindowLongW(GetDlgItem(h, IDNO), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON)
                << "No is the default";
            return answer;
        }, 120000, L" /LOG=" + quote(log));
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(questions, 1) << narrow(run.describe());
        ASSERT_LT(sizeAtClick, bigSize) << "the click came too late to test anything";
        EXPECT_EQ(run.exitCode, answer == IDYES ? 2u : 0u) << narrow(run.describe());
        if (answer == IDYES) {
            EXPECT_FALSE(exists(bigPath)) << "nothing of the cancelled entry stays";
            EXPECT_FALSE(exists(target + L"na.txt"));
            std::vector<uint8_t> bytes = readWhole(log);
            std::string text(bytes.begin(), bytes.end());
            EXPECT_NE(text.find("cancelled " + narrow(bigPath) + "\r\nexit code 2\r\n"), std::string::npos) << text;
        } else {
            // Whole and, since the run ended without a box, with the right CRC.
            EXPECT_EQ(sizeOf(bigPath), bigSize);
            EXPECT_EQ(readText(target + L"na.txt"), "na");
        }
    }
    scratchFolder(L"cancel-doel");
}

TEST(Interactive, ExistingFileThatCannotBeOpenedWithOverwriteOn)
{
    std::wstring exe = sfxOf(L"cannot-open", {{L"a.txt", "nieuw"}, {L"b.txt", "nieuw"}}, L"--overwrite");
    if (HasFatalFailure())
        return;
    enum Kind { READ_ONLY, HELD_OPEN, FOLDER };
    for (Kind kind : {READ_ONLY, HELD_OPEN, FOLDER}) {
        const char* what[] = {"read-only", "held open without sharing", "a folder of that name"};
        SCOPED_TRACE(what[kind]);
        std::wstring target = scratchFolder(L"cannot-open-doel");
        std::wstring a = target + L"a.txt";
        HANDLE held = INVALID_HANDLE_VALUE;
        if (kind == READ_ONLY) {
            // Refused as such, also where the system would let it be written (Wine run as root).
            ASSERT_NO_FATAL_FAILURE(writeText(a, "oud"));
            SetFileAttributesW(a.c_str(), FILE_ATTRIBUTE_READONLY);
        } else if (kind == HELD_OPEN) {
            ASSERT_NO_FATAL_FAILURE(writeText(a, "oud"));
            held = CreateFileW(a.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        } else {
            CreateDirectoryW(a.c_str(), nullptr);
        }
        RunResult run = runAuto(exe, target);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(boxTexts(run), std::vector<std::wstring>{L"Kan uitvoerbestand niet maken: " + a});
        EXPECT_EQ(run.exitCode, 1u);
        if (kind != FOLDER) {
            EXPECT_EQ(readText(a), "oud");
        }
        EXPECT_EQ(namesIn(target), std::vector<std::wstring>{L"a.txt"}) << "the run ends there, nothing left";
    }
}

TEST(Interactive, FullDisk)
{
    if (!exists(fixture(L"full-disk-ready")))
        GTEST_SKIP() << "no 64 KiB drive Q: (mounting a tmpfs needs root)";
    std::string big(200000, '\0');
    uint32_t x = 7; // fixed seed: incompressible
    for (char& c : big) {
        x = x * 1103515245u + 12345u;
        c = (char)(x >> 24);
    }
    std::wstring exe = sfxOf(L"full-disk", {{L"a-klein.txt", "klein"}, {L"b-groot.bin", big}});
    if (HasFatalFailure())
        return;
    const std::wstring target = L"Q:\\doel\\";
    for (const wchar_t* name : {L"a-klein.txt", L"b-groot.bin"})
        DeleteFileW((target + name).c_str());
    RunResult run = runAuto(exe, target);
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(boxTexts(run), std::vector<std::wstring>{
                                 L"Fout bij schrijven naar " + target + L"b-groot.bin. Mogelijke oorzaak: schijf vol."});
    EXPECT_EQ(readText(target + L"a-klein.txt"), "klein");
    EXPECT_TRUE(exists(target + L"b-groot.bin")) << "the partly written file stays";
    EXPECT_LT(sizeOf(target + L"b-groot.bin"), big.size());
    EXPECT_EQ(run.exitCode, 1u);
    for (const wchar_t* name : {L"a-klein.txt", L"b-groot.bin"})
        DeleteFileW((target + name).c_str());
}

// ---- Replacing ----

// What a replaced file must keep when its entry fails: bytes, attributes, time of the last write.
struct FileState {
    std::vector<uint8_t> bytes;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    uint64_t written = 0;
    bool operator==(const FileState& o) const
    {
        return bytes == o.bytes && attributes == o.attributes && written == o.written;
    }
};

FileState stateOf(const std::wstring& path)
{
    FileState state;
    state.bytes = readWhole(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        state.attributes = data.dwFileAttributes;
        state.written = ticks(data.ftLastWriteTime);
    }
    return state;
}

std::ostream& operator<<(std::ostream& out, const FileState& s)
{
    return out << s.bytes.size() << " bytes \"" << std::string(s.bytes.begin(), s.bytes.end()).substr(0, 20)
               << "\", attributes " << std::hex << s.attributes << std::dec << ", written " << s.written;
}

// An old file as a user would have it: hidden, dated 2001-02-03 (where the file system keeps these).
void writeOldFile(const std::wstring& path, const std::string& text)
{
    writeText(path, text);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
    FILETIME old = {};
    SYSTEMTIME when = {2001, 2, 0, 3, 4, 5, 6, 0};
    SystemTimeToFileTime(&when, &old);
    HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << narrow(path);
    SetFileTime(f, nullptr, nullptr, &old);
    CloseHandle(f);
}

// Yes at both overwrite questions: the first entry replaces its file, the second fails and must leave its
// file as it was, with no temporary file left beside either.
TEST(Replacing, AFailedEntryLeavesTheOldFileAsItWas)
{
    struct Case {
        const char* what;
        std::function<RawZip::Entry()> failing;
        std::wstring message; // %P: the failing file's path
    } cases[] = {
        {"CRC mismatch",
         [] {
             RawZip::Entry e = entry("b.txt", "nieuw b");
             e.crcChange = 0x80000001;
             return e;
         },
         crcMessage(L"%P", crc32Of("nieuw b"), crc32Of("nieuw b") ^ 0x80000001)},
        {"unsupported method",
         [] {
             RawZip::Entry e = entry("b.txt", "nieuw b");
             e.method = 12;
             return e;
         },
         L"Niet-ondersteunde compressiemethode"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawZip zip;
        zip.local(entry("a.txt", "nieuw a"));
        zip.local(c.failing());
        zip.end(0x06054B50, 2);
        std::wstring exe = spliceSfx(L"replace-fail" + std::to_wstring(n), zip.bytes);
        if (HasFatalFailure())
            return;
        std::wstring target = scratchFolder(L"replace-fail" + std::to_wstring(n++) + L"-doel");
        ASSERT_NO_FATAL_FAILURE(writeOldFile(target + L"a.txt", "oud a\r\n"));
        ASSERT_NO_FATAL_FAILURE(writeOldFile(target + L"b.txt", "oud b\r\n"));
        FileState before = stateOf(target + L"b.txt");
        RunResult run = runAuto(exe, target);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        std::wstring message = c.message;
        if (size_t at = message.find(L"%P"); at != std::wstring::npos)
            message.replace(at, 2, target + L"b.txt");
        EXPECT_EQ(boxTexts(run), (std::vector<std::wstring>{
                                     L"Bestand " + target + L"a.txt bestaat al. Bestand overschrijven?",
                                     L"Bestand " + target + L"b.txt bestaat al. Bestand overschrijven?", message}));
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(readText(target + L"a.txt"), "nieuw a") << "Yes replaces";
        EXPECT_EQ(stateOf(target + L"b.txt"), before) << "the failed entry's file is as it was";
        EXPECT_EQ(namesIn(target), (std::vector<std::wstring>{L"a.txt", L"b.txt"})) << "no temporary file stays";
    }
}

// Yes at the question whether to stop, while a 1 GiB entry that replaces a file is written (overwriting
// on, no question before): the old file stays as it was and nothing else.
TEST(Replacing, CancelInTheMiddleLeavesTheOldFileAsItWas)
{
    RawZip zip;
    zip.local(gibibyteOfZeros());
    zip.end();
    std::wstring exe = spliceSfx(L"replace-cancel", zip.bytes, 0, SFXF_OVERWRITE_DEFAULT);
    if (HasFatalFailure())
        return;
    std::wstring target = scratchFolder(L"replace-cancel-doel");
    ASSERT_NO_FATAL_FAILURE(writeOldFile(target + L"big.bin", "oud\r\n"));
    FileState before = stateOf(target + L"big.bin");
    uint64_t sizeAtClick = 0;
    int questions = 0;
    RunResult run = runAuto(exe, target, L"", [&](const SeenWindow& w, HWND h) -> int {
        if (isMainDialog(w)) {
            // treeOf reads whole files: look at sizes through the directory listing instead.
            for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(2)) {
                WIN32_FIND_DATAW found;
                HANDLE f = FindFirstFileW((target + L"*").c_str(), &found);
                if (f == INVALID_HANDLE_VALUE)
                    continue;
                do
                    sizeAtClick = std::max<uint64_t>(sizeAtClick, found.nFileSizeLow);
                while (FindNextFileW(f, &found));
                FindClose(f);
                if (sizeAtClick >= (1u << 20))
                    break;
            }
            PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
            PostMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
            return 0;
        }
        if (!w.isMessageBox())
            return 0;
        questions++;
        EXPECT_EQ(w.text, L"Uitpakbewerking afbreken?");
        return IDYES;
    }, 120000);
    ASSERT_FALSE(run.timedOut) << narrow(run.describe());
    EXPECT_EQ(questions, 1) << narrow(run.describe());
    ASSERT_GE(sizeAtClick, 1u << 20) << "the entry was never seen being written";
    EXPECT_EQ(run.exitCode, 2u) << narrow(run.describe());
    EXPECT_EQ(stateOf(target + L"big.bin"), before);
    EXPECT_EQ(namesIn(target), std::vector<std::wstring>{L"big.bin"}) << "no temporary file stays";
    scratchFolder(L"replace-cancel-doel");
}

// With overwriting on, a second run over the first gives the same files, names and times: a file the user
// changed (and hid) is replaced and stays hidden, and one that a program holds open, shared for reading and
// writing but not for removal, is rewritten in place. No temporary file stays.
TEST(Replacing, ASecondRunGivesTheSameFiles)
{
    std::string bin(100000, '\0');
    uint32_t x = 11; // fixed seed: incompressible
    for (char& ch : bin) {
        x = x * 1103515245u + 12345u;
        ch = (char)(x >> 24);
    }
    std::wstring exe = sfxOf(L"second-run", {{L"a.txt", "nieuw a\r\n"}, {L"b.bin", bin}, {L"sub\\c.txt", "c\r\n"}},
                             L"--overwrite");
    if (HasFatalFailure())
        return;
    std::wstring target = scratchFolder(L"second-run-doel");
    RunResult first = runAuto(exe, target);
    ASSERT_FALSE(first.timedOut) << narrow(first.describe());
    ASSERT_EQ(first.exitCode, 0u) << narrow(first.describe());
    std::map<std::wstring, TreeItem> want = treeOf(target);
    ASSERT_EQ(want.size(), 4u);

    ASSERT_NO_FATAL_FAILURE(writeOldFile(target + L"a.txt", "door de gebruiker gewijzigd"));
    const bool hides = (GetFileAttributesW((target + L"a.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    HANDLE held = CreateFileW((target + L"b.bin").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RunResult second = runAuto(exe, target);
    CloseHandle(held);
    ASSERT_FALSE(second.timedOut) << narrow(second.describe());
    EXPECT_TRUE(boxTexts(second).empty()) << narrow(second.describe());
    EXPECT_EQ(second.exitCode, 0u);
    std::map<std::wstring, TreeItem> got = treeOf(target);
    for (const auto& [name, item] : want) {
        auto it = got.find(name);
        if (it == got.end()) {
            ADD_FAILURE() << "missing: " << narrow(name);
            continue;
        }
        EXPECT_TRUE(it->second.bytes == item.bytes) << narrow(name);
        if (!item.folder) {
            EXPECT_EQ(ticks(it->second.written), ticks(item.written)) << narrow(name);
        }
    }
    for (const auto& [name, item] : got)
        EXPECT_TRUE(want.count(name)) << "extra: " << narrow(name);
    if (hides) {
        EXPECT_TRUE(GetFileAttributesW((target + L"a.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN) << "a.txt stays hidden";
    }
}

TEST(Interactive, WrongOrMissingPassword)
{
    struct Case {
        const char* what;
        const wchar_t* zip;
        std::wstring typed;  // empty: the stub is built without the prompt, no dialog may appear
        std::wstring message;
    } cases[] = {
        {"wrong, check byte from the time", L"infozip-enc.zip", L"fout", L"Onjuist wachtwoord opgegeven"},
        {"wrong, check byte from the CRC", L"7z-enc.zip", L"fout", L"Onjuist wachtwoord opgegeven"},
        {"no prompt in the file", L"7z-enc.zip", L"", L"Geen wachtwoord opgegeven"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring dir = scratchFolder(L"password" + std::to_wstring(n++));
        std::wstring exe = dir + L"setup.exe";
        ASSERT_NO_FATAL_FAILURE(buildSfx(L"--crc none -o " + quote(exe) + L" " + quote(fixture(c.zip))));
        if (c.typed.empty()) {
            std::vector<uint8_t> file = readWhole(exe);
            size_t block = blockOffset(file);
            putLe32(file, block + 28, le32(file, block + 28) & ~SFXF_ASK_PASSWORD);
            ASSERT_NO_FATAL_FAILURE(writeWhole(exe, file));
        }
        std::wstring target = dir + L"doel\\";
        RunResult run = runAuto(exe, target, c.typed);
        ASSERT_FALSE(run.timedOut) << narrow(run.describe());
        EXPECT_EQ(boxTexts(run), std::vector<std::wstring>{c.message});
        EXPECT_EQ(run.exitCode, 1u);
        int dialogs = 0;
        for (const auto& w : run.seen)
            dialogs += isPasswordDialog(w);
        EXPECT_EQ(dialogs, c.typed.empty() ? 0 : 1);
        std::map<std::wstring, TreeItem> tree = treeOf(target);
        for (const auto& [name, item] : tree)
            EXPECT_TRUE(item.folder) << "no file is written: " << narrow(name);
    }
}

}
