#include "exclude_rules.h"

#include "build_error.h"
#include "unicode_text.h"
#include "windows_names.h"

static const std::u32string ANY_COMPONENTS = U"**";

ExcludeStyle hostExcludeStyle()
{
    ExcludeStyle style;
#ifdef _WIN32
    style.backslashSeparates = true;
    style.ignoreCase = true;
#endif
    return style;
}

// Characters of a name, so that '?' takes one character whatever its UTF-8 length. A name that is not
// valid UTF-8 (possible on Linux) keeps its bytes apart: each byte from 0x80 up becomes a unit that no
// valid character decodes to, so such a name can still be matched by '*' and '?'.
static std::u32string characters(const std::string& text, const ExcludeStyle& style)
{
    std::u32string out;
    std::u16string units;
    if (utf8ToUtf16(text, &units)) {
        for (size_t i = 0; i < units.size(); i++) {
            char32_t c = units[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size()) { // a pair from a valid UTF-8 decode
                c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
                i++;
            }
            out.push_back(c);
        }
    } else {
        for (unsigned char b : text)
            out.push_back(b < 0x80 ? (char32_t)b : (char32_t)(0xDC00 + b));
    }
    if (style.ignoreCase)
        for (char32_t& c : out)
            if (c < 0x10000)
                c = upcaseUnit((char16_t)c);
    return out;
}

static std::vector<std::string> splitAtSlashes(const std::string& text)
{
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('/', at);
        if (end == std::string::npos)
            end = text.size();
        if (end > at)
            parts.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

ExcludePattern parseExcludePattern(const std::string& text, const ExcludeStyle& style)
{
    ExcludePattern p;
    p.text = text;
    if (text.empty())
        throw UsageError("--exclude needs a pattern, not an empty text");
    if (text[0] == '!')
        throw UsageError("--exclude \"" + text + "\": patterns cannot re-include items ('!')");
    std::string t = text;
    if (style.backslashSeparates)
        for (char& c : t)
            if (c == '\\')
                c = '/';
    while (!t.empty() && t.back() == '/') {
        p.foldersOnly = true;
        t.pop_back();
    }
    p.anchored = t.find('/') != std::string::npos;
    for (const std::string& part : splitAtSlashes(t)) {
        if (part == "." || part == "..")
            throw UsageError("--exclude \"" + text + "\": patterns are relative to the input folder, without . or ..");
        p.components.push_back(characters(part, style));
    }
    if (p.components.empty())
        throw UsageError("--exclude \"" + text + "\" names no file or folder");
    return p;
}

// '*' and '?' within one component. The classic walk that returns to the last '*' on a mismatch: at
// most pattern length times name length steps.
static bool componentMatches(const std::u32string& pattern, const std::u32string& name)
{
    const size_t none = std::u32string::npos;
    size_t p = 0, n = 0, star = none, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || (pattern[p] != U'*' && pattern[p] == name[n]))) {
            p++;
            n++;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            starName = n;
        } else if (star != none) {
            p = star + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        p++;
    return p == pattern.size();
}

// reach[j] after step i: the first i pattern components match the first j path components.
static bool componentsMatch(const std::vector<std::u32string>& pattern, const std::vector<std::u32string>& path)
{
    std::vector<char> reach(path.size() + 1, 0);
    reach[0] = 1;
    for (size_t i = 0; i < pattern.size(); i++) {
        std::vector<char> next(path.size() + 1, 0);
        if (pattern[i] == ANY_COMPONENTS) {
            const size_t least = i + 1 == pattern.size() ? 1 : 0; // a trailing "**" takes one or more
            for (size_t j = 0; j <= path.size(); j++)
                if (reach[j])
                    for (size_t k = j + least; k <= path.size(); k++)
                        next[k] = 1;
        } else {
            for (size_t j = 0; j < path.size(); j++)
                if (reach[j] && componentMatches(pattern[i], path[j]))
                    next[j + 1] = 1;
        }
        reach.swap(next);
    }
    return reach[path.size()] != 0;
}

bool isExcluded(const std::vector<ExcludePattern>& patterns, const std::string& path, bool folder,
                const ExcludeStyle& style)
{
    if (patterns.empty())
        return false;
    std::vector<std::u32string> components;
    for (const std::string& part : splitAtSlashes(path))
        components.push_back(characters(part, style));
    for (const ExcludePattern& p : patterns) {
        if (p.foldersOnly && !folder)
            continue;
        std::vector<std::u32string> full;
        if (!p.anchored)
            full.push_back(ANY_COMPONENTS); // a name at any depth
        full.insert(full.end(), p.components.begin(), p.components.end());
        if (componentsMatch(full, components))
            return true;
    }
    return false;
}
