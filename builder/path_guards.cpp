#include "path_guards.h"

#include <ctype.h>

#include "unicode_text.h"
#include "windows_names.h"

namespace fs = std::filesystem;

static std::u16string comparable(const fs::path& component, bool ignoreCase)
{
    std::u16string units;
    std::string text = component.u8string();
    if (!utf8ToUtf16(text, &units))
        units.assign(text.begin(), text.end()); // bytes as they are: equal names stay equal
    if (ignoreCase)
        for (char16_t& c : units)
            c = upcaseUnit(c);
    return units;
}

bool pathLiesWithin(const fs::path& inner, const fs::path& outer, bool ignoreCase)
{
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o) {
        if (o->empty()) // a trailing separator of outer
            continue;
        if (i == inner.end() || comparable(*i, ignoreCase) != comparable(*o, ignoreCase))
            return false;
        ++i;
    }
    return true;
}

static bool hasDriveLetter(const std::string& text)
{
    return text.size() >= 2 && isalpha((unsigned char)text[0]) && text[1] == ':';
}

std::string outputPathWarning(const std::string& output, bool windowsTool)
{
    if (!windowsTool) {
        bool drive = hasDriveLetter(output) && output.size() >= 3 && (output[2] == '\\' || output[2] == '/');
        if (drive || output.find('\\') != std::string::npos)
            return "-o \"" + output + "\" looks like a Windows path; this Linux tool takes it as a Linux path"
                   " (a '\\' is part of a file name here)";
        return "";
    }
    static const char* const unixFolders[] = {"home", "tmp", "usr", "var", "etc", "opt", "mnt", "media", "root", "srv"};
    bool unix = output.compare(0, 2, "~/") == 0;
    for (const char* folder : unixFolders) {
        std::string start = "/" + std::string(folder);
        if (output.compare(0, start.size(), start) == 0
            && (output.size() == start.size() || output[start.size()] == '/'))
            unix = true;
    }
    if (unix)
        return "-o \"" + output + "\" looks like a Unix path; this Windows tool takes it as a path on the"
               " current drive";
    return "";
}

// "%NAME%" at the start: a reference to an environment variable, which the stub expands.
static bool beginsWithVariable(const std::string& text)
{
    if (text.size() < 3 || text[0] != '%')
        return false;
    size_t close = text.find('%', 1);
    return close != std::string::npos && close > 1;
}

std::string folderTextWarning(const std::string& folder)
{
    if (folder.empty() || hasDriveLetter(folder) || beginsWithVariable(folder))
        return "";
    bool unix = folder[0] == '/' || folder[0] == '~'
                || (folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos);
    if (!unix)
        return "";
    return "--folder \"" + folder + "\" looks like a Unix path; the target folder is a Windows path, such as"
           " C:\\Apps\\Name or %ProgramFiles%\\Name";
}
