// --exclude PATTERN for folder input: which items of the folder stay out of the archive. The patterns
// follow the lines of a .gitignore file, without negation and character classes:
// - a pattern is split at '/' into components; in a component '*' matches any run of characters and
//   '?' exactly one character (never a '/'); a component that is exactly "**" matches any number of
//   components, none included, except at the end of a pattern, where it matches one or more (so
//   "logs/**" takes everything below logs/ but not the folder itself);
// - a trailing '/' makes the pattern match folders only;
// - a pattern with no other '/' matches a name at any depth ("*.tmp", "build/"); one with a leading or
//   inner '/' is anchored at the input folder ("/setup.log", "docs/*.txt");
// - an excluded folder is not walked: everything below it is excluded with it.
// Names are matched as the archive holds them: relative to the input folder, components joined by '/'.
// The Windows tool also takes '\' as a separator in a pattern and ignores letter case, as Windows does;
// the Linux tool compares letter case exactly, as Linux does.
#ifndef AKSFX_EXCLUDE_RULES_H
#define AKSFX_EXCLUDE_RULES_H

#include <string>
#include <vector>

struct ExcludePattern {
    std::string text;                       // as given, for messages
    std::vector<std::u32string> components; // "**" components kept as they are
    bool foldersOnly = false;
    bool anchored = false;
};

// The rules of one tool: the Windows tool's or the Linux tool's.
struct ExcludeStyle {
    bool backslashSeparates = false;
    bool ignoreCase = false;
};

// The style of the tool being built.
ExcludeStyle hostExcludeStyle();

// Throws UsageError with one line for a pattern that matches nothing sensible: empty, only separators,
// a "." or ".." component, or a leading '!' (re-including is not supported).
ExcludePattern parseExcludePattern(const std::string& text, const ExcludeStyle& style);

// Whether the item at path (relative, components joined by '/', no trailing '/') is excluded by one of
// the patterns. folder: the item is a folder (or what a link stands for is one).
bool isExcluded(const std::vector<ExcludePattern>& patterns, const std::string& path, bool folder,
                const ExcludeStyle& style);

#endif
