// A stand-in for the archiver and its helper program: writes the command line it received and its current
// directory, as UTF-8 lines, into a file named like itself with ".txt" appended, then ends.
#include <windows.h>

#include <string>

#include "ui_driver.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int)
{
    wchar_t self[MAX_PATH], folder[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::string text = narrow(GetCommandLineW()) + "\n" + narrow(folder) + "\n";
    HANDLE f = CreateFileW((std::wstring(self) + L".txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written;
    WriteFile(f, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(f);
    return 0;
}
