// Entry point of the stub.
#include "../launch/relaunch.h"
#include "run_log.h"
#include "sfxhead.h"

// Libraries load from the system folder only, never from the started file's folder (a download folder
// may hold a planted DLL). The call is looked up, since older systems lack it.
static void restrictLibrarySearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    SetDefaultDllDirectoriesCall setDefault =
        kernel ? (SetDefaultDllDirectoriesCall)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    restrictLibrarySearch();
    instanceHandle = instance;
    // The switches count in the started process too: a failure to hand over is silent and logged alike.
    wchar_t* arguments = userArguments();
    readSwitches(arguments);
    UINT exitCode = 0;
    if (relaunchFromTemporaryCopy(&exitCode))
        exitCode = (UINT)runStub(arguments);
    logNumber(L"exit code", (long)exitCode);
    return (int)exitCode;
}
