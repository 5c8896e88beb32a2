// A small user stand-in for Windows tests: starts a program, follows its process tree, reads every
// top-level window that appears (caption, message text, controls), answers it by pressing a button, and
// records what it saw. Win32 API only.
#ifndef AKSFX_UI_DRIVER_H
#define AKSFX_UI_DRIVER_H

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct SeenControl {
    int id;
    std::wstring className;
    std::wstring text;
    bool visible;
};

struct SeenWindow {
    std::wstring className;
    std::wstring caption;
    std::wstring text; // a message box's text (static control 0xFFFF), else empty
    std::vector<SeenControl> controls;
    DWORD processId;

    bool isMessageBox() const { return !text.empty() || hasControl(0xFFFF); }
    bool hasControl(int id) const;
    std::wstring controlText(int id) const;
    // Ids of the push buttons, in template order.
    std::vector<int> buttons() const;
};

struct RunResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    std::vector<SeenWindow> seen;
    std::map<DWORD, std::wstring> processes; // every process of the tree seen: id and file name
    int processesNamed(const std::wstring& name) const;
    std::wstring describe() const;
};

// Returns the id of the button to press (IDOK, IDYES, IDCANCEL, ...), or 0 to leave the window alone.
// The window's handle is passed for tests that want to do more (type into a field).
using Answer = std::function<int(const SeenWindow&, HWND)>;

// The usual answer: OK on a box with only OK; Close (2) on the main dialog; otherwise the first button.
int defaultAnswer(const SeenWindow& window, HWND);

// Runs "exe" args (args with its leading blank if any) in workDir and answers windows until the process
// and all its descendants are gone, or timeoutMs passes (then the tree is ended). environment, when not
// empty, is the program's whole environment block (see environmentWith).
RunResult runProgram(const std::wstring& exe, const std::wstring& args, const Answer& answer = defaultAnswer,
                     DWORD timeoutMs = 30000, const std::wstring& workDir = L"",
                     const std::wstring& environment = L"");

// An environment variable change: value null removes the variable, an empty value sets it empty.
struct EnvironmentChange {
    std::wstring name;
    const wchar_t* value;
};
// This process's environment with the changes applied, as a block for runProgram.
std::wstring environmentWith(const std::vector<EnvironmentChange>& changes);

// Converts text to UTF-8 for assertion messages.
std::string narrow(const std::wstring& text);

#endif
