// Start-up timing under Wine for scripts/bench-extract.
//
//   startup_probe.exe --idle                 the do-nothing program: shows a window "aksfx idle" at once
//                                            and waits until it is closed
//   startup_probe.exe --idle-controls        the same after InitCommonControls (comctl32 loaded at run
//                                            time, so that --idle does not load it): what any program
//                                            with common controls pays before its first window
//   startup_probe.exe --window CAPTION CMD   starts CMD (a whole command line), waits until a visible
//                                            top-level window whose caption starts with CAPTION appears,
//                                            prints the milliseconds from just before CreateProcessW to
//                                            then, closes the window and waits for CMD to end
//   startup_probe.exe --copy FILE            prints the milliseconds CopyFileW takes to copy FILE into
//                                            %TEMP% (the copy is removed again)
//   startup_probe.exe --cancel CAPTION FILE CMD
//                                            starts CMD (a self-extracting file in automatic mode), waits for
//                                            its dialog (caption as above) and until FILE, which it writes,
//                                            holds 32 MiB; then prints on one line the milliseconds that 10
//                                            messages sent to the dialog (WM_NULL) took to be answered, and
//                                            on the next, for five clicks on the dialog, the milliseconds from
//                                            each click to the visible question whether to stop; it answers
//                                            No, and Yes the fifth time
// Windows are looked for every millisecond; a run that shows no window within 60 s fails (exit code 1).
#include <windows.h>

#include <string>

namespace {

void print(const char* text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

double millisecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

void printMilliseconds(double ms)
{
    char line[64];
    unsigned long tenths = (unsigned long)(ms * 10.0 + 0.5);
    wsprintfA(line, "%lu.%lu\n", tenths / 10, tenths % 10);
    print(line);
}

LRESULT CALLBACK idleProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int runIdle(bool commonControls)
{
    if (commonControls) {
        HMODULE library = LoadLibraryW(L"comctl32.dll");
        FARPROC initialise = library ? GetProcAddress(library, "InitCommonControls") : nullptr;
        if (!initialise)
            return 1;
        ((void(WINAPI*)())(void*)initialise)();
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = idleProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"AksfxIdle";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"aksfx idle", WS_OVERLAPPEDWINDOW, 100, 100,
                                  400, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

struct Search {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM lParam)
{
    Search* search = (Search*)lParam;
    if (!IsWindowVisible(window))
        return TRUE;
    wchar_t text[256];
    int n = GetWindowTextW(window, text, 256);
    int want = lstrlenW(search->caption);
    if (n >= want && wcsncmp(text, search->caption, (size_t)want) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int runWindow(const wchar_t* caption, const wchar_t* commandLine)
{
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        print("startup_probe: cannot start the program\n");
        return 1;
    }
    Search search = {caption, nullptr};
    while (!search.found && millisecondsSince(start) < 60000) {
        EnumWindows(matchWindow, (LPARAM)&search);
        if (!search.found)
            Sleep(1);
    }
    if (!search.found) {
        print("startup_probe: no window appeared\n");
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    printMilliseconds(millisecondsSince(start));
    PostMessageW(search.found, WM_CLOSE, 0, 0);
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

// Appends ms to a line of numbers, separated by blanks (the first, i == 0, without one).
void appendMilliseconds(char* line, int i, double ms)
{
    char number[32];
    unsigned long tenths = (unsigned long)(ms * 10.0 + 0.5);
    wsprintfA(number, i ? " %lu.%lu" : "%lu.%lu", tenths / 10, tenths % 10);
    lstrcatA(line, number);
}

BOOL CALLBACK matchQuestion(HWND window, LPARAM lParam)
{
    wchar_t className[16], text[64];
    if (!IsWindowVisible(window) || !GetClassNameW(window, className, 16) || lstrcmpW(className, L"#32770") != 0)
        return TRUE;
    if (GetDlgItemTextW(window, 0xFFFF, text, 64) && lstrcmpW(text, L"Uitpakbewerking afbreken?") == 0) {
        *(HWND*)lParam = window;
        return FALSE;
    }
    return TRUE;
}

ULONGLONG fileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    return ((ULONGLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

int runCancel(const wchar_t* caption, const wchar_t* file, const wchar_t* commandLine)
{
    const int clicks = 5;
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        print("startup_probe: cannot start the program\n");
        return 1;
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    Search search = {caption, nullptr};
    while (!search.found && millisecondsSince(start) < 60000) {
        EnumWindows(matchWindow, (LPARAM)&search);
        if (!search.found)
            Sleep(1);
    }
    const ULONGLONG enough = 32u << 20;
    while (search.found && fileSize(file) < enough && millisecondsSince(start) < 60000)
        Sleep(1);
    const char* failure = nullptr;
    if (!search.found)
        failure = "no dialog appeared";
    else if (fileSize(file) < enough)
        failure = "nothing written";
    char latencies[512] = "";
    for (int i = 0; !failure && i < 10; i++) {
        QueryPerformanceCounter(&start);
        DWORD_PTR result;
        if (!SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)) {
            failure = "the dialog did not answer a message";
            break;
        }
        appendMilliseconds(latencies, i, millisecondsSince(start));
        Sleep(2);
    }
    lstrcatA(latencies, "\n");
    for (int i = 0; !failure && i < clicks; i++) {
        QueryPerformanceCounter(&start);
        PostMessageW(search.found, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
        PostMessageW(search.found, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
        HWND question = nullptr;
        while (!question && millisecondsSince(start) < 10000) {
            EnumWindows(matchQuestion, (LPARAM)&question);
            if (!question)
                Sleep(1);
        }
        if (!question) {
            failure = "no question after a click";
            break;
        }
        appendMilliseconds(latencies, i, millisecondsSince(start));
        PostMessageW(question, WM_COMMAND, i == clicks - 1 ? IDYES : IDNO, 0);
        for (QueryPerformanceCounter(&start); IsWindow(question) && millisecondsSince(start) < 10000;)
            Sleep(1);
        Sleep(20);
    }
    if (failure) {
        print("startup_probe: ");
        print(failure);
        print("\n");
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    lstrcatA(latencies, "\n");
    print(latencies);
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

int runCopy(const wchar_t* file)
{
    wchar_t target[MAX_PATH + 32];
    DWORD n = GetTempPathW(MAX_PATH, target);
    if (n == 0 || n >= MAX_PATH)
        return 1;
    lstrcatW(target, L"startup-probe-copy.exe");
    DeleteFileW(target);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    BOOL copied = CopyFileW(file, target, TRUE);
    double ms = millisecondsSince(start);
    DeleteFileW(target);
    if (!copied) {
        print("startup_probe: the copy failed\n");
        return 1;
    }
    printMilliseconds(ms);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && lstrcmpW(argv[1], L"--idle") == 0)
        return runIdle(false);
    if (argc == 2 && lstrcmpW(argv[1], L"--idle-controls") == 0)
        return runIdle(true);
    if (argc == 4 && lstrcmpW(argv[1], L"--window") == 0)
        return runWindow(argv[2], argv[3]);
    if (argc == 3 && lstrcmpW(argv[1], L"--copy") == 0)
        return runCopy(argv[2]);
    if (argc == 5 && lstrcmpW(argv[1], L"--cancel") == 0)
        return runCancel(argv[2], argv[3], argv[4]);
    print("usage: startup_probe.exe --idle | --idle-controls | --window CAPTION COMMAND-LINE | --copy FILE\n"
          "       | --cancel CAPTION FILE COMMAND-LINE\n");
    return 2;
}
