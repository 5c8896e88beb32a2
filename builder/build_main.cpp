// aksfx-build: turns a ZIP archive or a folder into a self-extracting file. See helpText().
#include <iostream>
#include <string>
#include <vector>

#include "build_options.h"
#include "host_files.h"
#include "unicode_text.h"

static int runWithArguments(const std::vector<std::string>& args)
{
    std::string errorLine;
    int status = runTool(args, pathToUtf8(ownExecutableFolder()), std::cout, &errorLine, &std::cerr);
    std::cout.flush();
    if (!errorLine.empty())
        std::cerr << "aksfx-build: " << errorLine << std::endl;
    return status;
}

#ifdef _WIN32
// Wide arguments, so that paths and texts outside the ANSI code page arrive intact.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        std::wstring w(argv[i]);
        args.push_back(utf16ToUtf8(std::u16string(w.begin(), w.end())));
    }
    return runWithArguments(args);
}
#else
int main(int argc, char** argv)
{
    return runWithArguments(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
