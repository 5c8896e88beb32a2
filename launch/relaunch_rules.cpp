// The system's argument splitter (CommandLineToArgvW), as these rules rely on it. Checked against Wine 8's
// splitter by tests/wine/stub_units_test.cpp.
//
// - The first argument, the program name, has rules of its own. A line that begins with a quote: the name
//   runs to the next quote, whatever lies between (backslashes escape nothing there). Any other line: the
//   name runs to the first blank or tab, so a line that begins with a blank has an empty name. Blanks and
//   tabs after the name are skipped; the next argument starts outside quotes.
// - Further arguments: blanks and tabs outside quotes separate them; inside quotes they are kept.
// - Backslashes are literal unless their run ends at a quote: then 2n of them give n backslashes and the
//   quote counts; 2n+1 give n backslashes and a literal quote, which does not count.
// - Quotes that count are taken a run at a time, with a counter that starts at 1 inside quotes and at 0
//   outside: each quote adds one, and on reaching 3 writes a literal quote and drops to 0. A run that ends
//   on 2 ends outside quotes. So outside quotes `"` opens, `""` adds nothing and `"""` adds a literal
//   quote; inside, `"` closes and `""` writes a literal quote and closes as well. Quotes that follow an
//   escaped quote at once join the run as if it started there.
// - The end of the line ends an open quote; backslashes at the end are literal.
// Hence a quote appended to a piece that ends inside quotes closes it and writes nothing, whether or not it
// joins a run of quotes, as long as the backslashes before it are doubled.
#include "relaunch_rules.h"

#include "../startup/text_format.h"

static bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

uint32_t programNameEnd(const wchar_t* commandLine)
{
    uint32_t i = 0;
    if (commandLine[0] == L'"') {
        i = 1;
        while (commandLine[i] && commandLine[i] != L'"')
            i++;
        return commandLine[i] ? i + 1 : i;
    }
    while (commandLine[i] && !isBlank(commandLine[i]))
        i++;
    return i;
}

ArgumentTail argumentTail(const wchar_t* text)
{
    ArgumentTail tail = {false, 0};
    for (const wchar_t* p = text; *p; p++) {
        if (*p == L'\\') {
            tail.trailingBackslashes++;
            continue;
        }
        if (*p == L'"') {
            uint32_t counter = tail.insideQuote ? 1 : 0;
            if (tail.trailingBackslashes % 2 == 0)
                counter++;
            while (p[1] == L'"') {
                p++;
                counter = (counter + 1) % 3;
            }
            tail.insideQuote = counter == 1;
        }
        tail.trailingBackslashes = 0;
    }
    return tail;
}

uint32_t copyCommandLineUnits(const wchar_t* commandLine, const wchar_t* startedPath)
{
    const wchar_t* rest = commandLine + programNameEnd(commandLine);
    // The blank in front, the rest, its trailing backslashes once more and the closing quote, the markers,
    // the path, its closing quote and the terminator.
    return 1 + textLength(rest) + argumentTail(rest).trailingBackslashes + 1 + textLength(RELAUNCH_MARKERS)
           + textLength(startedPath) + 2;
}

void buildCopyCommandLine(const wchar_t* commandLine, const wchar_t* startedPath, bool closeQuote, wchar_t* out)
{
    uint32_t capacity = copyCommandLineUnits(commandLine, startedPath);
    const wchar_t* rest = commandLine + programNameEnd(commandLine);
    copyText(out, capacity, rest[0] && !isBlank(rest[0]) ? L" " : L"");
    appendText(out, capacity, rest);
    if (closeQuote) {
        for (uint32_t i = argumentTail(rest).trailingBackslashes; i > 0; i--)
            appendText(out, capacity, L"\\");
        appendText(out, capacity, L"\"");
    }
    appendText(out, capacity, RELAUNCH_MARKERS);
    appendText(out, capacity, startedPath);
    appendText(out, capacity, L"\"");
}

void userArgumentRange(const wchar_t* commandLine, uint32_t* start, uint32_t* end)
{
    uint32_t length = textLength(commandLine);
    uint32_t markerLength = textLength(RELAUNCH_MARKERS);
    *start = programNameEnd(commandLine);
    *end = length;
    if (length == 0 || commandLine[length - 1] != L'"')
        return;
    // The path runs back to the quote before the last one, which must end the markers.
    uint32_t open = length - 1;
    do {
        if (open == 0)
            return;
        open--;
    } while (commandLine[open] != L'"');
    if (open + 1 < *start + markerLength)
        return;
    uint32_t markers = open + 1 - markerLength;
    for (uint32_t i = 0; i < markerLength; i++)
        if (commandLine[markers + i] != RELAUNCH_MARKERS[i])
            return;
    *end = markers;
}

void folderNameFor(uint32_t n, wchar_t out[9])
{
    formatText(out, 9, L"%lx", (unsigned long)n);
}

bool isRunMarker(const wchar_t* argument, bool exactCase)
{
    static const wchar_t marker[] = L"-run=1";
    uint32_t i = 0;
    for (; marker[i]; i++) {
        wchar_t c = argument[i];
        if (!exactCase && c >= L'A' && c <= L'Z')
            c = (wchar_t)(c + (L'a' - L'A'));
        if (c != marker[i])
            return false;
    }
    return argument[i] == 0;
}

const wchar_t* findShortcutArgument(wchar_t* const* arguments, int count)
{
    static const wchar_t prefix[] = L"-shortcut=";
    for (int i = count - 1; i >= 0; i--) {
        uint32_t k = 0;
        while (prefix[k] && arguments[i][k] == prefix[k])
            k++;
        if (!prefix[k])
            return arguments[i] + k;
    }
    return nullptr;
}
