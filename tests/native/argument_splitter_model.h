// A model of the system's argument splitter (CommandLineToArgvW as Wine 8 has it), the oracle of the
// relaunch's command-line tests. It is written from the splitter's observed behaviour, not from the rules
// code it checks; tests/wine/stub_units_test.cpp holds it against the real splitter. Also the command lines
// that both test layers try: a table of awkward ones and a seeded random source.
#ifndef AKSFX_ARGUMENT_SPLITTER_MODEL_H
#define AKSFX_ARGUMENT_SPLITTER_MODEL_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace splitter_model {

inline bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The arguments of a command line. For an empty line the system answers with the calling program's own
// path, which the model cannot know: it gives one empty argument there; compare from the second one on.
inline std::vector<std::wstring> split(const std::wstring& line)
{
    std::vector<std::wstring> arguments(1);
    size_t i = 0, n = line.size();
    if (n > 0 && line[0] == L'"') { // a quoted name ends at the next quote, backslashes or not
        for (i = 1; i < n && line[i] != L'"'; i++)
            arguments[0] += line[i];
        if (i < n)
            i++;
    } else {
        for (; i < n && !isBlank(line[i]); i++)
            arguments[0] += line[i];
    }
    bool inArgument = false; // the last entry of arguments is the argument being read
    int quotes = 0;          // 1 inside quotes, 0 outside
    while (i < n) {
        if (isBlank(line[i]) && quotes == 0) {
            inArgument = false;
            i++;
            continue;
        }
        if (!inArgument)
            arguments.push_back(std::wstring());
        inArgument = true;
        std::wstring& current = arguments.back();
        size_t backslashes = 0;
        while (i + backslashes < n && line[i + backslashes] == L'\\')
            backslashes++;
        if (backslashes > 0 && (i + backslashes == n || line[i + backslashes] != L'"')) {
            current.append(backslashes, L'\\'); // not before a quote: literal
            i += backslashes;
            continue;
        }
        if (backslashes == 0 && line[i] != L'"') {
            current += line[i++];
            continue;
        }
        // A run of backslashes ending at a quote, or a quote: halve the backslashes, then take the run of
        // quotes, the first one literal when the backslashes were odd.
        current.append(backslashes / 2, L'\\');
        i += backslashes;
        if (backslashes % 2 == 1) {
            current += L'"';
            i++;
        }
        for (; i < n && line[i] == L'"'; i++) {
            quotes++;
            if (quotes == 3) {
                current += L'"';
                quotes = 0;
            }
        }
        if (quotes == 2)
            quotes = 0;
    }
    return arguments;
}

// Command lines that have tripped splitters and quoting code: quoted and bare program names, a name glued
// to its first argument, the "%~dp0" idiom that leaves a quote open, quotes after backslashes, runs of
// quotes inside and outside quotes, tabs, trailing blanks and a -shortcut= typed by the user.
inline std::vector<std::wstring> awkwardCommandLines()
{
    return {
        L"",
        L"setup.exe",
        L"\"setup.exe\"",
        L"\"C:\\Dir Name\\setup.exe\" /auto",
        L"\"C:\\s.exe\"/auto",
        L"\"C:\\s.exe\"\"quoted rest",
        L"setup.exe /AUTO \"C:\\Uit\\\"",
        L"setup.exe /AUTO \"C:\\Uit\\\\\"",
        L"setup.exe \"C:\\a b\\\\",
        L"setup.exe \"C:\\a b\\\\\\",
        L"setup.exe C:\\Uit\\",
        L"setup.exe C:\\Uit\\\\",
        L"setup.exe \"open",
        L"setup.exe \"",
        L"setup.exe a\"\"b \"a\"\"b\" \"a\"\"\"b c",
        L"setup.exe \"\"\"\" x",
        L"setup.exe \"\"\"\"\" x",
        L"setup.exe \"x\"\"\"",
        L"setup.exe \\\"\"x y",
        L"setup.exe \"a\\\"\"b c",
        L"setup.exe \"\" \"\"",
        L"setup.exe\t/a\t\"b\tc\"",
        L"setup.exe   ",
        L"setup.exe a   ",
        L"setup.exe \"a   ",
        L"\"no closing quote",
        L"a\"b c",
        L"\"\"x y",
        L" leading blank",
        L"\tleading tab",
        L"setup.exe -shortcut=\"D:\\evil.exe\" -run=1",
        L"setup.exe -RUN=1 \"-shortcut=",
        L"setup.exe a\rb\x0B" L"c\nd",
    };
}

// A command line of up to 14 characters, drawn from the characters that steer the splitter.
inline std::wstring randomCommandLine(std::mt19937& random)
{
    static const wchar_t alphabet[] = L"a \t\"\\-";
    std::wstring line;
    for (uint32_t length = random() % 15; length > 0; length--)
        line += alphabet[random() % 6];
    return line;
}

enum : uint32_t { RANDOM_SEED = 20240611, RANDOM_LINES = 20000 };

} // namespace splitter_model

#endif
