// A stand-in for an installer's setup program, started by a self-extracting file after extraction. Writes
// four UTF-8 lines (its command line, its current folder, its own path, its process id) into a file named
// like itself with ".txt" appended: first under a temporary name, then renamed, so that the file appears
// whole. While the event "aksfx-run-probe-hold" exists and is not set, it waits (at most a minute); then
// it ends with exit code 7.
#include <windows.h>

#include <string>

#include "ui_driver.h"

enum : DWORD { PROBE_EXIT_CODE = 7, HOLD_LIMIT_MS = 60000 };

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int)
{
    wchar_t self[MAX_PATH], folder[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD m = GetCurrentDirectoryW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH || m == 0 || m >= MAX_PATH)
        return 1;
    std::string text = narrow(GetCommandLineW()) + "\n" + narrow(folder) + "\n" + narrow(self) + "\n"
                       + std::to_string(GetCurrentProcessId()) + "\n";
    std::wstring record = std::wstring(self) + L".txt";
    std::wstring partial = record + L".partial";
    HANDLE f = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(f, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(f);
    if (!ok || written != text.size() || !MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    if (HANDLE hold = OpenEventW(SYNCHRONIZE, FALSE, L"aksfx-run-probe-hold")) {
        WaitForSingleObject(hold, HOLD_LIMIT_MS);
        CloseHandle(hold);
    }
    return PROBE_EXIT_CODE;
}
