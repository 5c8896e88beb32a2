#include "run_program.h"

#include "../archive/path_rules.h"
#include "../launch/run_rules.h"
#include "../startup/payload_format.h"
#include "build_error.h"
#include "unicode_text.h"

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

// Upper case for comparing names: ASCII and the Latin-1 letters, the names an installer's program has.
static char16_t folded(char16_t c)
{
    if (c == u'\\')
        return u'/';
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return (char16_t)(c - 0x20);
    return c;
}

static std::u16string comparable(const std::u16string& name)
{
    std::u16string out;
    for (char16_t c : name)
        out.push_back(folded(c));
    if (!out.empty() && out[0] == u'/')
        out.erase(0, 1); // the stub drops one leading separator of an entry name
    return out;
}

void checkRunProgram(const std::u16string& command, const ZipArchive& archive)
{
    const std::u16string program = runProgramName(command);
    const std::string shown = quotedForMessage(utf16ToUtf8(program));
    if (!isRunnableProgramName(wide(program).c_str()))
        throw BuildError("--run program " + shown + " is no name below the target folder (an absolute path, "
                         "'..', ':', a device name, a trailing dot or blank, or a character a file name "
                         "cannot hold)");
    const std::u16string wanted = comparable(program);
    bool folder = false;
    for (const ZipEntry& e : archive.entries) {
        std::u16string name;
        if (e.flags & ZIP_FLAG_UTF8) {
            if (!utf8ToUtf16(e.name, &name))
                continue;
        } else {
            name = cp437ToUtf16(e.name);
        }
        std::u16string entry = comparable(name);
        bool isFolder = isFolderEntryName(e.name);
        if (isFolder && !entry.empty())
            entry.pop_back();
        if (entry == wanted && !isFolder)
            return;
        if (entry == wanted || entry.compare(0, wanted.size() + 1, wanted + u'/') == 0)
            folder = true;
    }
    if (folder)
        throw BuildError("--run program " + shown + " is a folder in the archive, not a file");
    throw BuildError("--run program " + shown + " is not a file in the archive");
}
