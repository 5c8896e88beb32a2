// campaign_run: the Windows half of the hostile-input campaign (scripts/campaign).
//
//   campaign_run.exe STUB PLAN RESULTS [SECONDS]   SECONDS: the watchdog of one run (default 20)
//   campaign_run.exe --remove-drive LETTER     removes the spanned-set drive after the last batch
//
// PLAN (UTF-8 lines, tab-separated fields, texts as hex of their UTF-8 bytes so that any name passes):
//   drive LETTER UNIX-FOLDER-HEX        once, before the runs: a drive letter for spanned sets, defined as a
//                                       removable drive on that Linux folder with the label PKBACK# 001
//   run ID EXE-HEX PASSWORD SPANNED     one self-extracting file; PASSWORD is "cancel" or "type:HEX";
//                                       SPANNED is 1 when the file is the first disk of a spanned set
//   entry SIZE NAME-HEX                 a local header of its archive: declared uncompressed size, raw name
//   prefill FOLDER-HEX                  a folder moved into place as the target before the run (an earlier
//                                       install; it may hold links that point out of the target)
//   keep NAME-HEX REFERENCE-HEX         a file of the prefilled target that must hold the bytes of the file
//                                       REFERENCE after the run (replaced by the same bytes, or left alone)
//   end
//
// For each run the file is copied into a fresh sandbox (C:\aksfx-campaign\ID\, or the spanned-set drive)
// and started as "setup.exe /AUTO <sandbox>\a\b\c\target" through the UI driver with a watchdog of SECONDS.
// Every window is answered: the password dialog as the plan says (after Cancel the main dialog, which then
// waits for the user, is closed), an overwrite prompt Yes, the cancel question No, a disk prompt Cancel
// (Abort where it offers Abort), any other box its first button. Each box is mapped to the string-table id
// of the stub's text it shows (the stub loaded as a data file; %s, %d and %08lx in a text match any value).
// After the run the sandbox, the campaign folder's top level and C:\ are compared with what was there
// before: anything new or gone outside the target folder is an escape, and so is a name in the target that
// the system would take for a device. A file in the target larger than the largest declared size of any
// entry of that name is oversize. A kept file of a prefilled target whose bytes are no longer those of its
// reference was destroyed. With a prefill the sandbox also holds a folder "outside" beside a\, where links
// in the prefill point.
//
// RESULTS gets {"ready":true} once the runner is set up, then one JSON object per run and line, written as
// soon as the run ends:
//   {"id":N,"exit":CODE,"started":B,"timeout":B,"crash":B,"ms":N,"password_dialogs":N,
//    "boxes":[{"id":ID,"text":T}],"windows":[T],"escapes":[T],"oversize":[{"path":T,"size":N,"declared":N}],
//    "unmapped":[T],"destroyed":[T],"seen":[T],"processes":[T]}
// "id" of a box is 0 when its text is none of the stub's; "windows" lists windows that are neither the
// main dialog, the password dialog nor a message box; "unmapped" lists target files of no entry's name;
// "started" is false when the system refused to start the file.
#include <windows.h>
#include <winioctl.h>

#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "test_files.h"
#include "ui_driver.h"

namespace {

enum : int { ID_MAIN_FOLDER = 106, ID_PASSWORD = 402 };
DWORD runTimeoutMs = 20000;
const wchar_t kCampaignRoot[] = L"C:\\aksfx-campaign\\";
const char kSetLabel[] = "PKBACK# 001";

// String-table ids whose boxes get an answer of their own.
enum : int {
    MSG_INSERT_DISK = 1001,
    MSG_INSERT_LAST_DISK = 1002,
    MSG_NO_DISK = 1003,
    MSG_WRONG_DISK = 1004,
    MSG_ASK_ABORT = 1021,
    MSG_OVERWRITE = 1026,
};

// ---- texts ----

std::wstring widen(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring out(n, L'\0');
    if (n)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &out[0], n);
    return out;
}

std::string unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += (char)strtoul(hex.substr(i, 2).c_str(), nullptr, 16);
    return out;
}

std::wstring upper(std::wstring s)
{
    if (!s.empty())
        CharUpperBuffW(&s[0], (DWORD)s.size());
    return s;
}

std::string jsonText(const std::wstring& text)
{
    std::string out = "\"";
    for (char c : narrow(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if ((unsigned char)c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", (unsigned char)c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// ---- the stub's messages ----

struct MessageFormat {
    int id;
    std::wstring format;
};

BOOL CALLBACK collectStringBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<int>*>(context)->push_back((int)(UINT_PTR)name);
    return TRUE;
}

// Every text of the stub's string table; a text that begins with '!' continues in the next id.
std::vector<MessageFormat> loadMessageFormats(const std::wstring& stub)
{
    std::vector<MessageFormat> formats;
    HMODULE module = LoadLibraryExW(stub.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return formats;
    std::vector<int> blocks;
    EnumResourceNamesW(module, RT_STRING, collectStringBlock, reinterpret_cast<LONG_PTR>(&blocks));
    auto load = [&](int id) {
        const wchar_t* text = nullptr;
        int n = LoadStringW(module, (UINT)id, (LPWSTR)&text, 0);
        return n > 0 && text ? std::wstring(text, n) : std::wstring();
    };
    for (int block : blocks)
        for (int id = (block - 1) * 16; id < block * 16; id++) {
            std::wstring text = load(id);
            for (int next = id + 1; !text.empty() && text[0] == L'!' && next < id + 16; next++)
                text = text.substr(1) + load(next);
            if (!text.empty())
                formats.push_back({id, text});
        }
    FreeLibrary(module);
    return formats;
}

// Does text[t..] match format[f..]? %s matches any text, %d (with width, flags or l) a number, %x a hex
// number, %c one character, %% a percent sign. literal counts the characters matched literally.
bool matchFrom(const std::wstring& format, size_t f, const std::wstring& text, size_t t, size_t* literal)
{
    while (f < format.size()) {
        if (format[f] != L'%' || f + 1 >= format.size() || format[f + 1] == L'%') {
            if (t >= text.size() || text[t] != format[f])
                return false;
            f += format[f] == L'%' ? 2 : 1;
            t++;
            ++*literal;
            continue;
        }
        size_t c = f + 1;
        while (c < format.size() && (iswdigit(format[c]) || format[c] == L'-' || format[c] == L'l'))
            c++;
        if (c >= format.size())
            return false;
        wchar_t kind = format[c];
        f = c + 1;
        if (kind == L's') {
            for (size_t end = text.size() + 1; end-- > t;)
                if (matchFrom(format, f, text, end, literal))
                    return true;
            return false;
        }
        if (kind == L'c') {
            if (t >= text.size())
                return false;
            t++;
            continue;
        }
        if ((kind == L'd' || kind == L'i') && t < text.size() && text[t] == L'-')
            t++;
        size_t digitsFrom = t;
        while (t < text.size() && (kind == L'x' ? iswxdigit(text[t]) != 0 : iswdigit(text[t]) != 0))
            t++;
        if (t == digitsFrom)
            return false;
    }
    return t == text.size();
}

// The id of the stub's text that the box shows, 0 for none. A read error carries a suffix " <n>".
int messageIdOf(const std::vector<MessageFormat>& formats, const std::wstring& text)
{
    auto best = [&](const std::wstring& t) {
        int id = 0;
        size_t bestLiteral = 0;
        for (const auto& m : formats) {
            size_t literal = 0;
            if (matchFrom(m.format, 0, t, 0, &literal) && (id == 0 || literal > bestLiteral)) {
                id = m.id;
                bestLiteral = literal;
            }
        }
        return id;
    };
    int id = best(text);
    size_t open = text.rfind(L" <");
    if (id == 0 && open != std::wstring::npos && text.back() == L'>' && open + 3 < text.size()
        && std::all_of(text.begin() + open + 2, text.end() - 1, ::iswdigit))
        id = best(text.substr(0, open));
    return id;
}

// ---- the plan ----

struct PlannedRun {
    int id = 0;
    std::wstring exe;
    bool cancelPassword = true;
    std::wstring password;
    bool spanned = false;
    std::map<std::wstring, uint32_t> declared; // normalised entry name -> largest declared size
    std::wstring prefill;                      // a folder that becomes the target before the run, or empty
    std::vector<std::pair<std::string, std::wstring>> keep; // raw name below the target, reference file
};

// An entry name as a path below the target: UTF-8 (as the stub reads every name), '/' as '\', one
// leading separator dropped, upper case.
std::wstring normalisedName(const std::string& raw)
{
    std::wstring name = widen(raw);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    if (!name.empty() && name[0] == L'\\')
        name.erase(0, 1);
    return upper(name);
}

// The same path with every component cut to 255 bytes of UTF-8 (at a character boundary): Wine on a Linux
// file system stores a longer component, which Windows allows up to 255 characters, cut to that length.
std::wstring hostPath(const std::wstring& path)
{
    std::wstring out;
    size_t from = 0;
    for (;;) {
        size_t end = path.find(L'\\', from);
        std::string component = narrow(path.substr(from, end == std::wstring::npos ? std::wstring::npos : end - from));
        if (component.size() > 255) {
            size_t cut = 255;
            while (cut > 0 && ((unsigned char)component[cut] & 0xC0) == 0x80)
                cut--;
            component.resize(cut);
        }
        out += widen(component);
        if (end == std::wstring::npos)
            return out;
        out += L'\\';
        from = end + 1;
    }
}

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        size_t tab = line.find('\t', from);
        out.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            return out;
        from = tab + 1;
    }
}

bool readWholeFile(const std::wstring& path, std::string* bytes)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return false;
    char buffer[65536];
    bytes->clear();
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes->append(buffer, n);
    fclose(f);
    return true;
}

struct Plan {
    wchar_t driveLetter = 0;
    std::string driveFolder; // Linux path
    std::vector<PlannedRun> runs;
};

bool readPlan(const std::wstring& path, Plan* plan)
{
    // Read whole: a line holds a name of up to 65,535 bytes as hex.
    std::string all;
    if (!readWholeFile(path, &all))
        return false;
    PlannedRun current;
    for (size_t from = 0; from < all.size();) {
        size_t eol = all.find('\n', from);
        std::string line = all.substr(from, eol == std::string::npos ? std::string::npos : eol - from);
        from = eol == std::string::npos ? all.size() : eol + 1;
        std::vector<std::string> v = fields(line);
        if (v[0] == "drive" && v.size() == 3) {
            plan->driveLetter = (wchar_t)v[1][0];
            plan->driveFolder = unhex(v[2]);
        } else if (v[0] == "run" && v.size() == 5) {
            current = PlannedRun();
            current.id = atoi(v[1].c_str());
            current.exe = widen(unhex(v[2]));
            current.cancelPassword = v[3] == "cancel";
            if (v[3].compare(0, 5, "type:") == 0)
                current.password = widen(unhex(v[3].substr(5)));
            current.spanned = v[4] == "1";
        } else if (v[0] == "entry" && v.size() == 3) {
            uint32_t size = (uint32_t)strtoul(v[1].c_str(), nullptr, 10);
            std::wstring name = normalisedName(unhex(v[2]));
            for (const std::wstring& key : {name, hostPath(name)}) {
                uint32_t& known = current.declared[key];
                known = std::max(known, size);
            }
        } else if (v[0] == "prefill" && v.size() == 2) {
            current.prefill = widen(unhex(v[1]));
        } else if (v[0] == "keep" && v.size() == 3) {
            current.keep.push_back({unhex(v[1]), widen(unhex(v[2]))});
            // A kept file is in the target whatever the archive holds: not an unlisted one.
            uint32_t& known = current.declared[normalisedName(unhex(v[1]))];
            known = std::max(known, (uint32_t)0xFFFFFFFFu);
        } else if (v[0] == "end") {
            plan->runs.push_back(current);
        }
    }
    return true;
}

// ---- files and folders ----

struct FoundItem {
    std::wstring path; // as found
    bool folder;
    uint64_t size;
};

// Everything below folder (ending in '\'); only its top level unless recursive. Keyed by upper-case path.
void listFolder(const std::wstring& folder, bool recursive, std::map<std::wstring, FoundItem>& out)
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        FoundItem item{folder + name, isFolder, ((uint64_t)found.nFileSizeHigh << 32) | found.nFileSizeLow};
        out[upper(item.path)] = item;
        if (isFolder && recursive)
            listFolder(item.path + L"\\", true, out);
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

bool removeTree(const std::wstring& folder)
{
    std::map<std::wstring, FoundItem> items;
    listFolder(folder, true, items);
    // Deepest first: a path sorts after the folders that hold it.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        SetFileAttributesW(it->second.path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (it->second.folder)
            RemoveDirectoryW(it->second.path.c_str());
        else
            DeleteFileW(it->second.path.c_str());
    }
    RemoveDirectoryW(folder.c_str());
    return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// A name the system takes for a device whatever its folder: CON, PRN, AUX, NUL, COM0-9, LPT0-9 (the
// superscripts 1-3 count as digits), CONIN$, CONOUT$, with any extension and blanks before it.
bool isDeviceName(const std::wstring& name)
{
    std::wstring base = upper(name.substr(0, name.find(L'.')));
    while (!base.empty() && (base.back() == L' ' || base.back() == L'.'))
        base.pop_back();
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (base == device)
            return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        wchar_t d = base[3];
        return (d >= L'0' && d <= L'9') || d == 0x00B9 || d == 0x00B2 || d == 0x00B3;
    }
    return false;
}

// ---- the spanned-set drive ----

// Removes the drive and the type the mount manager noted for it in the registry.
void removeDrive(wchar_t letter)
{
    defineRemovableDrive(letter, "");
    HKEY drives;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wine\\Drives", 0, KEY_SET_VALUE, &drives) == ERROR_SUCCESS) {
        wchar_t value[3] = {(wchar_t)towlower(letter), L':', 0};
        RegDeleteValueW(drives, value);
        RegCloseKey(drives);
    }
}

// Defines the drive and checks that it shows the label of a set's first disk (the script writes the
// folder's .windows-label). Bounded retries: the mount manager of a busy system has been seen to answer
// the first query before it has read the label.
bool prepareDrive(wchar_t letter, const std::string& unixFolder)
{
    std::wstring root = std::wstring(1, letter) + L":\\";
    wchar_t label[64] = L"";
    DWORD error = 0;
    for (int attempt = 0; attempt < 50; attempt++) {
        if (attempt)
            Sleep(100);
        // Defined by an earlier batch: left as it is, the mount manager is asked as little as possible.
        if (attempt == 0 && GetVolumeInformationW(root.c_str(), label, 64, nullptr, nullptr, nullptr, nullptr, 0)
            && narrow(label) == kSetLabel)
            return true;
        if (!defineRemovableDrive(letter, unixFolder)) {
            error = GetLastError();
            continue;
        }
        label[0] = 0;
        if (!GetVolumeInformationW(root.c_str(), label, 64, nullptr, nullptr, nullptr, nullptr, 0))
            error = GetLastError();
        else if (narrow(label) == kSetLabel)
            return true;
    }
    fprintf(stderr, "campaign_run: drive %c: shows the label \"%s\" (error %lu)\n", (char)letter,
            narrow(label).c_str(), error);
    return false;
}

// ---- one run ----

struct Outcome {
    RunResult run;
    std::vector<std::pair<int, std::wstring>> boxes;
    std::vector<std::wstring> windows;
    int passwordDialogs = 0;
    std::vector<std::wstring> escapes;
    struct Oversize {
        std::wstring path;
        uint64_t size;
        uint32_t declared;
    };
    std::vector<Oversize> oversize;
    std::vector<std::wstring> unmapped;
    std::vector<std::wstring> destroyed;
    std::vector<std::wstring> seen; // every window in order: main dialog, password dialog, box ID, other window
    HWND mainDialog = nullptr;
    HWND cancelledPassword = nullptr;
    DWORD ms = 0;
};

// A cancelled password leaves the main dialog open for the user, even in automatic mode: once the password
// dialog is gone and the dialog is idle again (its Extract button enabled), it is closed as a user would.
void closeMainDialogWhenIdle(HWND main, HWND password)
{
    for (DWORD start = GetTickCount(); IsWindow(password) && GetTickCount() - start < 10000;)
        Sleep(10);
    for (DWORD start = GetTickCount();
         IsWindow(main) && !IsWindowEnabled(GetDlgItem(main, IDOK)) && GetTickCount() - start < 10000;)
        Sleep(10);
    PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
}

int answer(const std::vector<MessageFormat>& formats, const PlannedRun& plan, Outcome& out, const SeenWindow& w,
           HWND h)
{
    if (w.hasControl(ID_MAIN_FOLDER)) {
        out.seen.push_back(L"main dialog");
        out.mainDialog = h;
        if (out.cancelledPassword)
            closeMainDialogWhenIdle(h, out.cancelledPassword);
        return 0; // otherwise automatic mode drives it
    }
    std::vector<int> buttons = w.buttons();
    auto offers = [&](int id) { return std::find(buttons.begin(), buttons.end(), id) != buttons.end(); };
    if (w.hasControl(ID_PASSWORD)) {
        out.seen.push_back(L"password dialog");
        out.passwordDialogs++;
        if (plan.cancelPassword) {
            out.cancelledPassword = h;
            PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
            if (out.mainDialog)
                closeMainDialogWhenIdle(out.mainDialog, h);
            return 0;
        }
        SendMessageTimeoutW(GetDlgItem(h, ID_PASSWORD), WM_SETTEXT, 0, (LPARAM)plan.password.c_str(), SMTO_ABORTIFHUNG,
                            2000, nullptr);
        return IDOK;
    }
    if (!w.isMessageBox()) {
        out.seen.push_back(L"other window");
        out.windows.push_back(L"[" + w.className + L"] " + w.caption);
        return defaultAnswer(w, h);
    }
    int id = messageIdOf(formats, w.text);
    out.seen.push_back(L"box " + std::to_wstring(id));
    out.boxes.push_back({id, w.text});
    int wanted = 0;
    switch (id) {
    case MSG_OVERWRITE:
        wanted = IDYES;
        break;
    case MSG_ASK_ABORT:
        wanted = IDNO;
        break;
    case MSG_INSERT_DISK:
    case MSG_INSERT_LAST_DISK:
    case MSG_NO_DISK:
    case MSG_WRONG_DISK:
        wanted = offers(IDCANCEL) ? IDCANCEL : IDABORT;
        break;
    }
    return wanted && offers(wanted) ? wanted : defaultAnswer(w, h);
}

// What is new or gone in after compared with before, outside the target folder (upper case, ends in '\').
void compareSnapshots(const std::map<std::wstring, FoundItem>& before, const std::map<std::wstring, FoundItem>& after,
                      const std::wstring& targetKey, std::vector<std::wstring>& escapes)
{
    for (const auto& [key, item] : after)
        if (!before.count(key) && key.compare(0, targetKey.size(), targetKey) != 0
            && key + L"\\" != targetKey && targetKey.compare(0, key.size() + 1, key + L"\\") != 0)
            escapes.push_back(L"new: " + item.path);
    for (const auto& [key, item] : before)
        if (!after.count(key))
            escapes.push_back(L"gone: " + item.path);
}

Outcome runOne(const std::vector<MessageFormat>& formats, const PlannedRun& plan, wchar_t driveLetter)
{
    Outcome out;
    std::wstring sandbox = kCampaignRoot + std::to_wstring(plan.id) + L"\\";
    removeTree(sandbox);
    CreateDirectoryW(sandbox.c_str(), nullptr);
    std::wstring parents = sandbox;
    for (const wchar_t* part : {L"a", L"b", L"c"}) {
        parents += std::wstring(part) + L"\\";
        CreateDirectoryW(parents.c_str(), nullptr);
    }
    std::wstring target = parents + L"target";
    if (!plan.prefill.empty()) {
        CreateDirectoryW((sandbox + L"outside").c_str(), nullptr);
        if (!MoveFileW(plan.prefill.c_str(), target.c_str()))
            out.windows.push_back(L"(the prefilled target could not be moved into place: " + plan.prefill + L")");
    }
    std::wstring driveRoot = plan.spanned ? std::wstring(1, driveLetter) + L":\\" : L"";
    std::wstring exe = plan.spanned ? driveRoot + L"SETUP.EXE" : sandbox + L"setup.exe";
    if (!CopyFileW(plan.exe.c_str(), exe.c_str(), FALSE)) {
        out.windows.push_back(L"(the file could not be copied to " + exe + L")");
        out.run.exitCode = 0xFFFFFFFF;
        return out;
    }

    auto snapshot = [&]() {
        std::map<std::wstring, FoundItem> items;
        listFolder(L"C:\\", false, items);
        listFolder(kCampaignRoot, false, items);
        listFolder(sandbox, true, items);
        if (!driveRoot.empty())
            listFolder(driveRoot, false, items);
        return items;
    };
    std::map<std::wstring, FoundItem> before = snapshot();

    DWORD start = GetTickCount();
    out.run = runProgram(exe, L" /AUTO \"" + target + L"\"",
                         [&](const SeenWindow& w, HWND h) { return answer(formats, plan, out, w, h); },
                         runTimeoutMs, sandbox);
    out.ms = GetTickCount() - start;

    std::wstring targetKey = upper(target) + L"\\";
    compareSnapshots(before, snapshot(), targetKey, out.escapes);

    std::map<std::wstring, FoundItem> extracted;
    listFolder(target + L"\\", true, extracted);
    for (const auto& [key, item] : extracted) {
        std::wstring relative = key.substr(targetKey.size());
        size_t slash = relative.rfind(L'\\');
        std::wstring name = item.path.substr(item.path.size() - (relative.size() - (slash + 1)));
        if (isDeviceName(name))
            out.escapes.push_back(L"device name: " + item.path);
        if (item.folder)
            continue;
        auto declared = plan.declared.find(relative);
        if (declared == plan.declared.end())
            out.unmapped.push_back(item.path);
        else if (item.size > declared->second)
            out.oversize.push_back({item.path, item.size, declared->second});
    }
    for (const auto& [name, reference] : plan.keep) {
        std::wstring path = target + L"\\" + widen(name);
        std::replace(path.begin(), path.end(), L'/', L'\\');
        std::string now, wanted;
        if (!readWholeFile(path, &now) || !readWholeFile(reference, &wanted) || now != wanted)
            out.destroyed.push_back(path);
    }
    if (plan.spanned)
        DeleteFileW(exe.c_str());
    removeTree(sandbox);
    return out;
}

std::string resultLine(const PlannedRun& plan, const Outcome& o)
{
    bool crash = o.run.exitCode >= 0xC0000000u && o.run.exitCode != 0xFFFFFFFFu;
    crash = crash || o.run.processesNamed(L"winedbg.exe") > 0;
    bool started = true;
    for (const auto& w : o.run.seen)
        started = started && w.className != L"(CreateProcess failed)";
    std::string line = "{\"id\":" + std::to_string(plan.id) + ",\"exit\":" + std::to_string(o.run.exitCode)
                       + ",\"started\":" + (started ? "true" : "false")
                       + ",\"timeout\":" + (o.run.timedOut ? "true" : "false") + ",\"crash\":"
                       + (crash ? "true" : "false") + ",\"ms\":" + std::to_string(o.ms)
                       + ",\"password_dialogs\":" + std::to_string(o.passwordDialogs) + ",\"boxes\":[";
    for (size_t i = 0; i < o.boxes.size(); i++)
        line += (i ? "," : "") + std::string("{\"id\":") + std::to_string(o.boxes[i].first)
                + ",\"text\":" + jsonText(o.boxes[i].second) + "}";
    auto list = [](const std::vector<std::wstring>& items) {
        std::string out = "[";
        for (size_t i = 0; i < items.size(); i++)
            out += (i ? "," : "") + jsonText(items[i]);
        return out + "]";
    };
    line += "],\"windows\":" + list(o.windows) + ",\"escapes\":" + list(o.escapes) + ",\"oversize\":[";
    for (size_t i = 0; i < o.oversize.size(); i++)
        line += (i ? "," : "") + std::string("{\"path\":") + jsonText(o.oversize[i].path)
                + ",\"size\":" + std::to_string(o.oversize[i].size)
                + ",\"declared\":" + std::to_string(o.oversize[i].declared) + "}";
    std::vector<std::wstring> processes;
    for (const auto& [pid, name] : o.run.processes)
        processes.push_back(name + L" " + std::to_wstring(pid));
    return line + "],\"unmapped\":" + list(o.unmapped) + ",\"destroyed\":" + list(o.destroyed)
           + ",\"seen\":" + list(o.seen)
           + ",\"processes\":" + list(processes) + "}\n";
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"--remove-drive") {
        removeDrive(argv[2][0]);
        return 0;
    }
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: campaign_run STUB PLAN RESULTS [SECONDS]\n       campaign_run --remove-drive LETTER\n");
        return 2;
    }
    if (argc == 5)
        runTimeoutMs = (DWORD)wcstoul(argv[4], nullptr, 10) * 1000;
    // Under Wine the first program that opens a window starts the desktop process as its child; started here,
    // it does not join the process tree of the first run, which would then never end.
    GetDesktopWindow();
    std::vector<MessageFormat> formats = loadMessageFormats(argv[1]);
    if (formats.empty()) {
        fprintf(stderr, "campaign_run: no string table in %s\n", narrow(argv[1]).c_str());
        return 1;
    }
    Plan plan;
    if (!readPlan(argv[2], &plan)) {
        fprintf(stderr, "campaign_run: cannot read the plan %s\n", narrow(argv[2]).c_str());
        return 1;
    }
    if (plan.driveLetter && !prepareDrive(plan.driveLetter, plan.driveFolder)) {
        fprintf(stderr, "campaign_run: cannot make drive %c: a removable drive labelled %s\n",
                (char)plan.driveLetter, kSetLabel);
        return 1;
    }
    CreateDirectoryW(kCampaignRoot, nullptr);
    FILE* results = _wfopen(argv[3], L"ab");
    if (!results) {
        fprintf(stderr, "campaign_run: cannot write %s\n", narrow(argv[3]).c_str());
        return 1;
    }
    fputs("{\"ready\":true}\n", results);
    fflush(results);
    for (const PlannedRun& run : plan.runs) {
        Outcome o = runOne(formats, run, plan.driveLetter);
        fputs(resultLine(run, o).c_str(), results);
        fflush(results);
    }
    fclose(results);
    return 0;
}
