// The libraries of the user interface, loaded at the first call into them.
//
// The started process only copies itself and waits for its copy; it should not pay for loading user32,
// gdi32, comctl32, shell32 and shlwapi (60 ms and more per process under Wine). So the program does not
// import them: every function of theirs that it calls has an import slot defined here, under the name
// the compiler uses for a call into a DLL (__imp_Name, on i686 __imp__Name@N with N the bytes of its
// arguments). A slot starts out pointing at a function of the same type that loads the library, looks
// the function up, stores it in the slot and calls it; every later call goes straight to the library.
// A function missing from this list is an undefined symbol at the link, never a silent hole.
//
// Libraries are loaded by name: the search is restricted to the system folder when the program starts,
// and a name keeps the manifest's redirection to version 6 of the common controls.
//
// The program has one thread per process, so a slot is written by at most one caller.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace {

enum LateLibrary { COMCTL32, SHLWAPI, SHELL32, USER32, GDI32, LATE_LIBRARY_COUNT };

const wchar_t* const lateLibraryNames[LATE_LIBRARY_COUNT] = {
    L"comctl32.dll", L"shlwapi.dll", L"shell32.dll", L"user32.dll", L"gdi32.dll"};

HMODULE lateLibraries[LATE_LIBRARY_COUNT];

// The function, stored in its slot; a library or function that is not there ends the process with
// exit code 1, as nothing can be shown without them.
void* resolveLateImport(LateLibrary library, const char* name, void** slot)
{
    if (!lateLibraries[library])
        lateLibraries[library] = LoadLibraryW(lateLibraryNames[library]);
    void* function = lateLibraries[library] ? (void*)GetProcAddress(lateLibraries[library], name) : nullptr;
    if (!function)
        ExitProcess(1);
    *slot = function;
    return function;
}

template <class Function> struct LateImport;

template <class Result, class... Arguments> struct LateImport<Result WINAPI(Arguments...)> {
    typedef Result(WINAPI* Pointer)(Arguments...);

    template <LateLibrary library, const char* name, void** slot>
    static Result WINAPI firstCall(Arguments... arguments)
    {
        return ((Pointer)resolveLateImport(library, name, slot))(arguments...);
    }

    // What the i686 name's @N says: each argument takes a multiple of 4 bytes on the stack.
    static constexpr unsigned argumentBytes = (0u + ... + (unsigned)((sizeof(Arguments) + 3) / 4 * 4));
};

} // namespace

#if defined(__i386__)
#define IMPORT_SLOT_SYMBOL(function, bytes) "__imp__" #function "@" #bytes
#define CHECK_ARGUMENT_BYTES(function, bytes)                                                               \
    static_assert(LateImport<decltype(function)>::argumentBytes == bytes, #function ": wrong argument bytes");
#else
#define IMPORT_SLOT_SYMBOL(function, bytes) "__imp_" #function
#define CHECK_ARGUMENT_BYTES(function, bytes)
#endif

// LATE_IMPORT(library, function, bytes of its arguments): the slot of one function.
#define LATE_IMPORT(library, function, bytes)                                                               \
    CHECK_ARGUMENT_BYTES(function, bytes)                                                                   \
    static constexpr char lateName_##function[] = #function;                                               \
    extern "C" void* lateSlot_##function asm(IMPORT_SLOT_SYMBOL(function, bytes));                         \
    void* lateSlot_##function =                                                                            \
        (void*)&LateImport<decltype(function)>::firstCall<library, lateName_##function, &lateSlot_##function>;

LATE_IMPORT(COMCTL32, InitCommonControls, 0)

LATE_IMPORT(SHLWAPI, PathRemoveFileSpecW, 4)

LATE_IMPORT(SHELL32, CommandLineToArgvW, 8)
LATE_IMPORT(SHELL32, SHBrowseForFolderW, 4)
LATE_IMPORT(SHELL32, SHGetMalloc, 4)
LATE_IMPORT(SHELL32, SHGetPathFromIDListW, 8)
LATE_IMPORT(SHELL32, ShellExecuteW, 24)

LATE_IMPORT(USER32, BeginPaint, 8)
LATE_IMPORT(USER32, DefWindowProcW, 16)
LATE_IMPORT(USER32, DialogBoxParamW, 20)
LATE_IMPORT(USER32, DispatchMessageW, 4)
LATE_IMPORT(USER32, EnableWindow, 8)
LATE_IMPORT(USER32, EndDialog, 8)
LATE_IMPORT(USER32, EndPaint, 8)
LATE_IMPORT(USER32, GetClientRect, 8)
LATE_IMPORT(USER32, GetDlgItem, 8)
LATE_IMPORT(USER32, GetDlgItemTextA, 16)
LATE_IMPORT(USER32, GetDlgItemTextW, 16)
LATE_IMPORT(USER32, GetKeyState, 4)
LATE_IMPORT(USER32, GetLastActivePopup, 4)
LATE_IMPORT(USER32, GetParent, 4)
LATE_IMPORT(USER32, GetSysColor, 4)
LATE_IMPORT(USER32, GetSystemMetrics, 4)
LATE_IMPORT(USER32, GetWindowLongW, 8)
LATE_IMPORT(USER32, GetWindowRect, 8)
LATE_IMPORT(USER32, GetWindowWord, 8)
LATE_IMPORT(USER32, InvalidateRect, 12)
LATE_IMPORT(USER32, KillTimer, 8)
LATE_IMPORT(USER32, LoadCursorW, 8)
LATE_IMPORT(USER32, LoadIconW, 8)
LATE_IMPORT(USER32, LoadImageW, 24)
LATE_IMPORT(USER32, LoadStringW, 16)
LATE_IMPORT(USER32, MessageBoxW, 16)
LATE_IMPORT(USER32, PeekMessageW, 20)
LATE_IMPORT(USER32, PostMessageW, 16)
LATE_IMPORT(USER32, RegisterClassW, 4)
LATE_IMPORT(USER32, SendDlgItemMessageW, 20)
LATE_IMPORT(USER32, SendMessageW, 16)
LATE_IMPORT(USER32, SetActiveWindow, 4)
LATE_IMPORT(USER32, SetCursor, 4)
LATE_IMPORT(USER32, SetDlgItemTextW, 12)
LATE_IMPORT(USER32, SetForegroundWindow, 4)
LATE_IMPORT(USER32, SetRect, 20)
LATE_IMPORT(USER32, SetTimer, 16)
LATE_IMPORT(USER32, SetWindowLongW, 12)
LATE_IMPORT(USER32, SetWindowPos, 28)
LATE_IMPORT(USER32, SetWindowTextW, 8)
LATE_IMPORT(USER32, SetWindowWord, 12)
LATE_IMPORT(USER32, ShowWindow, 8)
LATE_IMPORT(USER32, TranslateMessage, 4)
LATE_IMPORT(USER32, UpdateWindow, 4)

LATE_IMPORT(GDI32, CreateDCW, 16)
LATE_IMPORT(GDI32, CreateFontIndirectW, 4)
LATE_IMPORT(GDI32, DeleteDC, 4)
LATE_IMPORT(GDI32, DeleteObject, 4)
LATE_IMPORT(GDI32, ExtTextOutW, 32)
LATE_IMPORT(GDI32, GetBkColor, 4)
LATE_IMPORT(GDI32, GetDeviceCaps, 8)
LATE_IMPORT(GDI32, GetTextColor, 4)
LATE_IMPORT(GDI32, GetTextExtentPoint32W, 16)
LATE_IMPORT(GDI32, SelectObject, 8)
LATE_IMPORT(GDI32, SetBkColor, 8)
LATE_IMPORT(GDI32, SetTextAlign, 8)
LATE_IMPORT(GDI32, SetTextColor, 8)
