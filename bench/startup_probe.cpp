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

// Appends ms, in tenths, to a line of numbers separated by blanks (the first, i == 0, without one).
void appendMilliseconds(char* line, int i, double ms)
{
    char number[32];
    unsigned long tenths = (unsigned long)(ms * 10.0 + 0.5);
    wsprintfA(number, i ? " %lu.%lu" : "%lu.%lu", tenths / 10, tenths % 10);
    lstrcatA(line, number);
}

void printMilliseconds(double ms)
{
    char line[64] = "";
    appendMilliseconds(line, 0, ms);
    lstrcatA(line, "\n");
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
    const wchar_t* text;
    HWND found;
};

// A visible top-level window whose caption starts with the text.
BOOL CALLBACK matchCaption(HWND window, LPARAM lParam)
{
    Search* search = (Search*)lParam;
    if (!IsWindowVisible(window))
        return TRUE;
    wchar_t text[256];
    int n = GetWindowTextW(window, text, 256);
    int want = lstrlenW(search->text);
    if (n >= want && wcsncmp(text, search->text, (size_t)want) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible message box (a dialog whose static control 0xFFFF holds the message) saying the text.
BOOL CALLBACK matchMessageBox(HWND window, LPARAM lParam)
{
    Search* search = (Search*)lParam;
    wchar_t className[16], text[256];
    if (!IsWindowVisible(window) || !GetClassNameW(window, className, 16) || lstrcmpW(className, L"#32770") != 0)
        return TRUE;
    if (GetDlgItemTextW(window, 0xFFFF, text, 256) && lstrcmpW(text, search->text) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Looks every millisecond for a window that match accepts, until limitMs have passed since start.
HWND waitForWindow(WNDENUMPROC match, const wchar_t* text, const LARGE_INTEGER& start, double limitMs)
{
    Search search = {text, nullptr};
    while (!search.found && millisecondsSince(start) < limitMs) {
        EnumWindows(match, (LPARAM)&search);
        if (!search.found)
            Sleep(1);
    }
    return search.found;
}

bool startProgram(const wchar_t* commandLine, PROCESS_INFORMATION* process)
{
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process))
        return true;
    print("startup_probe: cannot start the program\n");
    return false;
}

// Ends a run: after a failure (named) the program is stopped, else it is waited for.
int endProgram(const PROCESS_INFORMATION& process, const char* failure)
{
    if (failure) {
        print("startup_probe: ");
        print(failure);
        print("\n");
        TerminateProcess(process.hProcess, 1);
    } else {
        WaitForSingleObject(process.hProcess, 60000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return failure ? 1 : 0;
}

int runWindow(const wchar_t* caption, const wchar_t* commandLine)
{
    PROCESS_INFORMATION process;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (!startProgram(commandLine, &process))
        return 1;
    HWND window = waitForWindow(matchCaption, caption, start, 60000);
    if (!window)
        return endProgram(process, "no window appeared");
    printMilliseconds(millisecondsSince(start));
    PostMessageW(window, WM_CLOSE, 0, 0);
    return endProgram(process, nullptr);
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
    const int messages = 10, clicks = 5;
    const ULONGLONG enough = 32u << 20;
    PROCESS_INFORMATION process;
    if (!startProgram(commandLine, &process))
        return 1;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HWND dialog = waitForWindow(matchCaption, caption, start, 60000);
    if (!dialog)
        return endProgram(process, "no dialog appeared");
    while (fileSize(file) < enough && millisecondsSince(start) < 60000)
        Sleep(1);
    if (fileSize(file) < enough)
        return endProgram(process, "nothing written");

    char latencies[512] = "";
    for (int i = 0; i < messages; i++) {
        QueryPerformanceCounter(&start);
        DWORD_PTR result;
        if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result))
            return endProgram(process, "the dialog did not answer a message");
        appendMilliseconds(latencies, i, millisecondsSince(start));
        Sleep(2);
    }
    lstrcatA(latencies, "\n");
    for (int i = 0; i < clicks; i++) {
        QueryPerformanceCounter(&start);
        PostMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
        PostMessageW(dialog, WM_LBUTTONUP, 0, MAKELPARAM(20, 20));
        HWND question = waitForWindow(matchMessageBox, L"Uitpakbewerking afbreken?", start, 10000);
        if (!question)
            return endProgram(process, "no question after a click");
        appendMilliseconds(latencies, i, millisecondsSince(start));
        PostMessageW(question, WM_COMMAND, i == clicks - 1 ? IDYES : IDNO, 0);
        for (QueryPerformanceCounter(&start); IsWindow(question) && millisecondsSince(start) < 10000;)
            Sleep(1);
        Sleep(20);
    }
    lstrcatA(latencies, "\n");
    print(latencies);
    return endProgram(process, nullptr);
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
