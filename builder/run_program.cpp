#include "run_program.h"

#include "../archive/path_rules.h"
#include "../launch/run_rules.h"
#include "../startup/payload_format.h"
#include "build_error.h"
#include "unicode_text.h"
#include "windows_names.h"

static std::wstring wide(const std::u16string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::u16string runProgramName(const std::u16string& command)
{
    std::wstring text = wide(command);
    wchar_t program[PATH_UNITS];
    const wchar_t* arguments = nullptr;
    if (!splitRunCommand(text.c_str(), program, PATH_UNITS, &arguments))
        throw UsageError("--run needs a program name first (in quotes when it holds blanks; at most "
                         + std::to_string(PATH_UNITS - 1) + " characters), then its arguments");
    std::u16string name;
    for (const wchar_t* p = program; *p; p++)
        name.push_back((char16_t)*p);
    return name;
}

// Only a program or an installer package is started (run_rules.h).
static void checkRunKind(const std::u16string& program, const std::string& shown)
{
    if (runKindOf(wide(program).c_str()) != RUN_REFUSED)
        return;
    const size_t dot = program.rfind(u'.');
    const std::u16string extension = windowsNameKey(dot == std::u16string::npos ? u"" : program.substr(dot + 1));
    const bool batch = extension == u"BAT" || extension == u"CMD";
    throw BuildError("--run program " + shown + " is neither a program (.exe) nor an installer package (.msi)"
                     + (batch ? ": a batch file would hand the target folder's name to cmd.exe's parsing" : ""));
}

void checkRunProgram(const std::u16string& command, const ZipArchive& archive)
{
    const std::u16string program = runProgramName(command);
    const std::string shown = quotedForMessage(utf16ToUtf8(program));
    if (!isRunnableProgramName(wide(program).c_str()))
        throw BuildError("--run program " + shown + " is no name below the target folder (an absolute path, "
                         "'..', ':', a device name, a trailing dot or blank, or a character a file name "
                         "cannot hold)");
    const std::u16string wanted = windowsNameKey(program);
    bool folder = false;
    for (const ZipEntry& e : archive.entries) {
        std::u16string name;
        if (e.flags & ZIP_FLAG_UTF8) {
            if (!utf8ToUtf16(e.name, &name))
                continue;
        } else {
            name = cp437ToUtf16(e.name);
        }
        const std::u16string entry = windowsNameKey(name);
        const bool isFolder = isFolderEntryName(e.name);
        if (entry == wanted && !isFolder)
            return checkRunKind(program, shown);
        if (entry == wanted || entry.compare(0, wanted.size() + 1, wanted + u'/') == 0)
            folder = true;
    }
    if (folder)
        throw BuildError("--run program " + shown + " is a folder in the archive, not a file");
    throw BuildError("--run program " + shown + " is not a file in the archive");
}
