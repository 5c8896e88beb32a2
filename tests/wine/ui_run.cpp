// ui-run: starts a program, prints every window it shows (caption, text, controls) and answers each the
// way a hurried user would (OK, or Close on the main dialog). Exits with the program's exit code.
//   ui-run.exe PROGRAM [ARGUMENTS...]
#include <stdio.h>

#include "ui_driver.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: ui-run PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::wstring args;
    for (int i = 2; i < argc; i++) {
        std::wstring a = argv[i];
        args += a.find(L' ') != std::wstring::npos ? L" \"" + a + L"\"" : L" " + a;
    }
    RunResult run = runProgram(argv[1], args, [](const SeenWindow& w, HWND h) {
        printf("window \"%s\"\n", narrow(w.caption).c_str());
        if (!w.text.empty())
            printf("  text: %s\n", narrow(w.text).c_str());
        else
            for (const auto& c : w.controls)
                if (c.visible && !c.text.empty())
                    printf("  %d %s: %s\n", c.id, narrow(c.className).c_str(), narrow(c.text).c_str());
        fflush(stdout);
        return defaultAnswer(w, h);
    });
    printf("exit code %lu%s\n", run.exitCode, run.timedOut ? " (timed out)" : "");
    return (int)run.exitCode;
}
