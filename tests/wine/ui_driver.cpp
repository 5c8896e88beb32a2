#include "ui_driver.h"

#include <tlhelp32.h>

#include <algorithm>
#include <map>
#include <set>

bool SeenWindow::hasControl(int id) const
{
    for (const auto& c : controls)
        if (c.id == id)
            return true;
    return false;
}

std::wstring SeenWindow::controlText(int id) const
{
    for (const auto& c : controls)
        if (c.id == id)
            return c.text;
    return L"";
}

std::vector<int> SeenWindow::buttons() const
{
    std::vector<int> ids;
    for (const auto& c : controls) {
        std::wstring cls = c.className;
        std::transform(cls.begin(), cls.end(), cls.begin(), ::towlower);
        if (cls == L"button" && c.visible)
            ids.push_back(c.id);
    }
    return ids;
}

std::string narrow(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

int RunResult::processesNamed(const std::wstring& name) const
{
    int n = 0;
    for (const auto& [pid, file] : processes)
        n += CompareStringOrdinal(file.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
    return n;
}

std::wstring RunResult::describe() const
{
    std::wstring out = L"exit code " + std::to_wstring(exitCode) + (timedOut ? L" (timed out)" : L"") + L"\n";
    for (const auto& w : seen) {
        out += L"[" + w.className + L"] \"" + w.caption + L"\"";
        if (!w.text.empty())
            out += L": " + w.text;
        out += L"\n";
    }
    return out;
}

int defaultAnswer(const SeenWindow& window, HWND)
{
    if (window.hasControl(106)) // the main dialog
        return IDCANCEL;
    std::vector<int> b = window.buttons();
    return b.empty() ? 0 : b.front();
}

namespace {

std::wstring textOf(HWND window)
{
    wchar_t buffer[4096];
    buffer[0] = 0;
    // WM_GETTEXT reads across processes for the standard controls.
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, (LPARAM)buffer, SMTO_ABORTIFHUNG, 2000, nullptr);
    buffer[4095] = 0;
    return buffer;
}

std::wstring classOf(HWND window)
{
    wchar_t buffer[256];
    int n = GetClassNameW(window, buffer, 256);
    return std::wstring(buffer, n > 0 ? n : 0);
}

BOOL CALLBACK collectChild(HWND child, LPARAM context)
{
    auto* window = reinterpret_cast<SeenWindow*>(context);
    if (GetParent(child) == nullptr)
        return TRUE;
    SeenControl c{GetDlgCtrlID(child), classOf(child), textOf(child), IsWindowVisible(child) != 0};
    window->controls.push_back(c);
    if (c.id == 0xFFFF)
        window->text = c.text;
    return TRUE;
}

SeenWindow read(HWND window, DWORD processId)
{
    SeenWindow seen;
    seen.className = classOf(window);
    seen.caption = textOf(window);
    seen.processId = processId;
    EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&seen));
    return seen;
}

// When a process was created, 0 when it cannot be asked (it has gone).
uint64_t creationTime(DWORD pid)
{
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h)
        return 0;
    FILETIME created, exited, kernel, user;
    uint64_t t = GetProcessTimes(h, &created, &exited, &kernel, &user)
                     ? ((uint64_t)created.dwHighDateTime << 32) | created.dwLowDateTime
                     : 0;
    CloseHandle(h);
    return t;
}

// The process and its descendants; their file names go to *names when given. Process ids are reused
// soon: a process that is older than the one now holding its parent's id (the system's desktop process,
// say, started by a program that has ended since) is no child of it.
std::set<DWORD> processTree(DWORD root, std::map<DWORD, std::wstring>* names = nullptr)
{
    std::set<DWORD> tree = {root};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return tree;
    std::vector<PROCESSENTRY32W> all;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        all.push_back(entry);
    CloseHandle(snapshot);
    std::map<DWORD, uint64_t> created;
    auto createdAt = [&](DWORD pid) {
        auto it = created.find(pid);
        return it != created.end() ? it->second : created[pid] = creationTime(pid);
    };
    // Unknown times (0) count as a child: a process is only left out when it is known to be older.
    auto olderThanParent = [&](const PROCESSENTRY32W& e) {
        uint64_t child = createdAt(e.th32ProcessID), parent = createdAt(e.th32ParentProcessID);
        return child != 0 && parent != 0 && child < parent;
    };
    // Wine starts its own service and desktop processes from whichever program needs them first (the
    // desktop from the first one that makes a window); they outlive that program and are none of its work.
    auto systemProcess = [](const PROCESSENTRY32W& e) {
        static const wchar_t* const names[] = {L"explorer.exe", L"services.exe", L"winedevice.exe",
                                               L"plugplay.exe", L"svchost.exe", L"rpcss.exe", L"conhost.exe"};
        for (const wchar_t* name : names)
            if (CompareStringOrdinal(e.szExeFile, -1, name, -1, TRUE) == CSTR_EQUAL)
                return true;
        return false;
    };
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& e : all)
            if (tree.count(e.th32ParentProcessID) && !tree.count(e.th32ProcessID) && !olderThanParent(e)
                && !systemProcess(e)) {
                tree.insert(e.th32ProcessID);
                grew = true;
            }
    }
    if (names)
        for (const auto& e : all)
            if (tree.count(e.th32ProcessID))
                (*names)[e.th32ProcessID] = e.szExeFile;
    return tree;
}

struct WindowSearch {
    std::set<DWORD> processes;
    std::vector<std::pair<HWND, DWORD>> found;
};

BOOL CALLBACK collectTopLevel(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (search->processes.count(pid) && IsWindowVisible(window))
        search->found.push_back({window, pid});
    return TRUE;
}

void press(HWND window, int id)
{
    HWND button = GetDlgItem(window, id);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
}

} // namespace

std::wstring environmentWith(const std::vector<EnvironmentChange>& changes)
{
    auto sameName = [](const std::wstring& entry, const std::wstring& name) {
        return entry.size() > name.size() && entry[name.size()] == L'='
               && CompareStringOrdinal(entry.c_str(), (int)name.size(), name.c_str(), (int)name.size(), TRUE)
                      == CSTR_EQUAL;
    };
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        bool changed = false;
        for (const auto& c : changes)
            changed = changed || sameName(entry, c.name);
        if (!changed)
            entries.push_back(entry);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& c : changes)
        if (c.value)
            entries.push_back(c.name + L"=" + c.value);
    std::wstring out;
    for (const auto& e : entries)
        out += e + L'\0';
    return out + L'\0';
}

RunResult runProgram(const std::wstring& exe, const std::wstring& args, const Answer& answer, DWORD timeoutMs,
                     const std::wstring& workDir, const std::wstring& environment)
{
    RunResult result;
    std::wstring commandLine = L"\"" + exe + L"\"" + args;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring environmentCopy = environment;
    // A file written a moment ago may still be held by the system on a busy machine: a sharing
    // violation is tried again, a bounded number of times.
    bool started = false;
    DWORD error = 0;
    for (int attempt = 0; attempt < 40 && !started; attempt++) {
        started = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                                 environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
                                 environment.empty() ? nullptr : &environmentCopy[0],
                                 workDir.empty() ? nullptr : workDir.c_str(), &startup, &process) != 0;
        error = started ? 0 : GetLastError();
        if (!started && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            break;
        if (!started)
            Sleep(50);
    }
    if (!started) {
        result.exitCode = 0xFFFFFFFF;
        result.seen.push_back({L"(CreateProcess failed, error " + std::to_wstring(error) + L")", exe, L"", {}, 0});
        return result;
    }
    CloseHandle(process.hThread);

    std::set<DWORD> known = {process.dwProcessId};
    std::set<HWND> answered;
    DWORD start = GetTickCount();
    for (;;) {
        std::set<DWORD> tree = processTree(process.dwProcessId, &result.processes);
        known.insert(tree.begin(), tree.end());
        WindowSearch search{known, {}};
        EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&search));
        for (auto& [window, pid] : search.found) {
            if (answered.count(window))
                continue;
            SeenWindow seen = read(window, pid);
            // A window counts once it was read whole: still visible afterwards (a window being torn down
            // is hidden first) and, for a dialog, with its controls. Otherwise look again next round.
            if (!IsWindowVisible(window) || (seen.className == L"#32770" && seen.controls.empty()))
                continue;
            answered.insert(window);
            result.seen.push_back(seen);
            int id = answer(seen, window);
            if (id)
                press(window, id);
        }
        // Forget windows that are gone, so that a reused handle counts as a new window.
        for (auto it = answered.begin(); it != answered.end();)
            it = IsWindow(*it) ? std::next(it) : answered.erase(it);

        bool rootDone = WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
        bool treeDone = rootDone && processTree(process.dwProcessId).size() <= 1;
        if (rootDone && treeDone)
            break;
        if (GetTickCount() - start > timeoutMs) {
            result.timedOut = true;
            for (DWORD pid : processTree(process.dwProcessId)) {
                HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
                if (h) {
                    TerminateProcess(h, 99);
                    CloseHandle(h);
                }
            }
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
        // Wait while serving messages: a program whose dialog is owned by a window of this process
        // sends to it and would otherwise hang.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hProcess);
    return result;
}
