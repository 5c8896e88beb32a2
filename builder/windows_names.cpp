#include "windows_names.h"

#include <algorithm>
#include <numeric>

#include "build_error.h"
#include "unicode_text.h"
#include "upcase_table.h"

char16_t upcaseUnit(char16_t unit)
{
    // The runs are sorted by their first unit and do not overlap.
    const UpcaseRun* end = upcaseRuns + sizeof upcaseRuns / sizeof upcaseRuns[0];
    const UpcaseRun* run = std::upper_bound(upcaseRuns, end, unit,
                                            [](char16_t u, const UpcaseRun& r) { return u < r.first; });
    if (run == upcaseRuns)
        return unit;
    --run;
    if (unit > run->last || (unit - run->first) % run->step != 0)
        return unit;
    return (char16_t)(unit + run->delta);
}

static bool isSeparatorUnit(char16_t c)
{
    return c == u'/' || c == u'\\';
}

std::u16string windowsNameKey(const std::u16string& name)
{
    std::u16string key;
    size_t at = !name.empty() && isSeparatorUnit(name[0]) ? 1 : 0; // the stub drops one leading separator
    while (at < name.size()) {
        size_t end = at;
        while (end < name.size() && !isSeparatorUnit(name[end]))
            end++;
        size_t last = end;
        while (last > at && (name[last - 1] == u'.' || name[last - 1] == u' '))
            last--;
        if (last > at) {
            if (!key.empty())
                key.push_back(u'/');
            for (size_t i = at; i < last; i++)
                key.push_back(upcaseUnit(name[i]));
        }
        at = end + 1;
    }
    return key;
}

// ---- Short names ----

static bool isOneOf(char16_t c, const char16_t* set)
{
    for (; *set; set++)
        if (c == *set)
            return true;
    return false;
}

// A unit of a short name as the system makes it from a long name's, for comparing: characters a short
// name cannot hold become '_', and so does everything beyond ASCII (the code page decides what the
// system makes of it; '_' on both sides matches whatever it chose).
static char16_t shortUnit(char16_t c)
{
    return c >= 0x80 || isOneOf(c, u"+,;=[]") ? u'_' : c;
}

// A valid 8.3 name (upper-cased): the system gives it no second name.
static bool isEightDotThree(const std::u16string& c)
{
    const size_t dot = c.find(u'.');
    const size_t base = dot == std::u16string::npos ? c.size() : dot;
    const size_t extension = dot == std::u16string::npos ? 0 : c.size() - dot - 1;
    if (base < 1 || base > 8 || extension > 3)
        return false;
    if (dot != std::u16string::npos && (extension == 0 || c.find(u'.', dot + 1) != std::u16string::npos))
        return false;
    for (char16_t u : c)
        if (u >= 0x80 || u == u' ' || isOneOf(u, u"+,;=[]"))
            return false;
    return true;
}

// The basis (up to six units) and extension (up to three) the system makes a long name's short name
// from: leading dots dropped, blanks and every dot but the last dropped.
static void shortNameBasis(const std::u16string& c, std::u16string* basis, std::u16string* extension)
{
    basis->clear();
    extension->clear();
    const size_t start = c.find_first_not_of(u". ");
    if (start == std::u16string::npos)
        return;
    const size_t dot = c.rfind(u'.');
    const size_t baseEnd = dot == std::u16string::npos || dot < start ? c.size() : dot;
    for (size_t i = start; i < baseEnd && basis->size() < 6; i++)
        if (c[i] != u' ' && c[i] != u'.')
            basis->push_back(shortUnit(c[i]));
    for (size_t i = baseEnd + 1; i < c.size() && extension->size() < 3; i++)
        if (c[i] != u' ')
            extension->push_back(shortUnit(c[i]));
}

// A component shaped like a short name the system gives: up to six units, '~', digits (eight units in
// all), and an optional extension of one to three units; no blanks or further dots. *prefix receives
// the part before '~', *extension the extension, both as shortUnit makes them.
static bool shortNameShape(const std::u16string& c, std::u16string* prefix, std::u16string* extension)
{
    const size_t dot = c.rfind(u'.');
    const size_t bodyEnd = dot == std::u16string::npos ? c.size() : dot;
    const size_t tilde = c.rfind(u'~', bodyEnd == 0 ? 0 : bodyEnd - 1);
    if (tilde == std::u16string::npos || tilde >= bodyEnd || tilde > 6 || bodyEnd > 8 || tilde + 1 == bodyEnd)
        return false;
    if (dot != std::u16string::npos && (c.size() - dot - 1 < 1 || c.size() - dot - 1 > 3))
        return false;
    for (size_t i = tilde + 1; i < bodyEnd; i++)
        if (c[i] < u'0' || c[i] > u'9')
            return false;
    for (size_t i = 0; i < c.size(); i++)
        if (c[i] == u' ' || (c[i] == u'.' && i != dot))
            return false;
    prefix->clear();
    extension->clear();
    for (size_t i = 0; i < tilde; i++)
        prefix->push_back(shortUnit(c[i]));
    if (dot != std::u16string::npos)
        for (size_t i = dot + 1; i < c.size(); i++)
            extension->push_back(shortUnit(c[i]));
    return true;
}

static bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

// A prefix in the hashed form ends in four hexadecimal digits.
static bool endsInHash(const std::u16string& prefix)
{
    const size_t n = prefix.size();
    return n >= 4 && isHexDigit(prefix[n - 1]) && isHexDigit(prefix[n - 2]) && isHexDigit(prefix[n - 3])
           && isHexDigit(prefix[n - 4]);
}

namespace {

// One component of an entry's key: where it starts and ends in the key, and a hash of the folder it lies
// in (the key before it). Equal folders have equal hashes; unequal ones with equal hashes only cost an
// exact comparison.
struct Component {
    size_t start;
    size_t end;
    uint64_t folderHash;
};

const uint64_t HASH_START = 0xCBF29CE484222325ull; // FNV-1a, 64 bits
const uint64_t HASH_FACTOR = 0x100000001B3ull;

uint64_t hashUnit(uint64_t h, char16_t u)
{
    h = (h ^ (u & 0xFF)) * HASH_FACTOR;
    return (h ^ (u >> 8)) * HASH_FACTOR;
}

uint64_t hashUnits(uint64_t h, const std::u16string& units)
{
    for (char16_t u : units)
        h = hashUnit(h, u);
    return h;
}

// The hash under which a short name and the long names it may stand for meet: folder, extension, and
// the part of the basis the short name keeps.
uint64_t meetingHash(uint64_t folderHash, const std::u16string& extension, const std::u16string& prefix)
{
    return hashUnits(hashUnit(hashUnits(hashUnit(folderHash, 0), extension), 0), prefix);
}

template <typename Visit> void forEachComponent(const std::u16string& key, Visit visit)
{
    uint64_t h = HASH_START;
    size_t start = 0;
    for (size_t i = 0; i <= key.size(); i++) {
        if (i < key.size() && key[i] != u'/')
            continue;
        visit(Component{start, i, h});
        for (size_t k = start; k <= i && k < key.size(); k++) // the component and its separator
            h = hashUnit(h, key[k]);
        start = i + 1;
    }
}

// A short-name-shaped component, indexed by meetingHash (in entry order among equal hashes, so that the
// clash reported does not depend on the sort).
struct ShortName {
    uint64_t hash;
    size_t entry;
    Component component;
};

bool hashBefore(const ShortName& a, const ShortName& b)
{
    return a.hash < b.hash;
}

// Sorted with the separator below every other unit: a name is then followed directly by the names with
// the same key and then by those below it as a folder (no entry name holds a unit below 0x20).
bool keyBefore(const std::u16string& a, const std::u16string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++) {
        if (a[i] == b[i])
            continue;
        char16_t x = a[i] == u'/' ? 0 : a[i];
        char16_t y = b[i] == u'/' ? 0 : b[i];
        return x < y;
    }
    return a.size() < b.size();
}

NameClash clash(NameClashKind kind, size_t a, size_t b)
{
    NameClash c;
    c.kind = kind;
    c.first = std::min(a, b);
    c.second = std::max(a, b);
    return c;
}

} // namespace

NameClash findNameClash(const std::vector<std::u16string>& names)
{
    std::vector<std::u16string> keys(names.size());
    std::vector<bool> folder(names.size());
    for (size_t i = 0; i < names.size(); i++) {
        keys[i] = windowsNameKey(names[i]);
        folder[i] = !names[i].empty() && isSeparatorUnit(names[i].back());
    }

    // One name, or a file and a name below it.
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keyBefore(keys[a], keys[b]); });
    for (size_t k = 1; k < order.size(); k++) {
        const size_t a = order[k - 1], b = order[k];
        const std::u16string& x = keys[a];
        const std::u16string& y = keys[b];
        if (x.empty())
            continue; // the target folder itself
        if (x == y) {
            if (!folder[a] && !folder[b])
                return clash(NameClashKind::SameName, a, b);
            if (!folder[a] || !folder[b])
                return clash(NameClashKind::FileAndFolder, a, b);
        } else if (!folder[a] && y.size() > x.size() && y[x.size()] == u'/' && y.compare(0, x.size(), x) == 0) {
            return clash(NameClashKind::FileAndFolder, a, b);
        }
    }

    // Short names, and the long names in their folders that the system could give them.
    std::vector<ShortName> shortNames;
    std::u16string prefix, extension;
    for (size_t i = 0; i < keys.size(); i++)
        forEachComponent(keys[i], [&](const Component& c) {
            if (!shortNameShape(keys[i].substr(c.start, c.end - c.start), &prefix, &extension))
                return;
            shortNames.push_back(ShortName{meetingHash(c.folderHash, extension, prefix), i, c});
            // The hashed form: the basis's first characters, then four hexadecimal digits.
            if (endsInHash(prefix))
                shortNames.push_back(
                    ShortName{meetingHash(c.folderHash, extension, prefix.substr(0, prefix.size() - 4)), i, c});
        });
    if (shortNames.empty())
        return NameClash();
    std::stable_sort(shortNames.begin(), shortNames.end(), hashBefore);

    NameClash found;
    std::u16string basis, longExtension;
    for (size_t i = 0; i < keys.size() && found.kind == NameClashKind::None; i++)
        forEachComponent(keys[i], [&](const Component& c) {
            const std::u16string name = keys[i].substr(c.start, c.end - c.start);
            if (found.kind != NameClashKind::None || isEightDotThree(name))
                return;
            shortNameBasis(name, &basis, &longExtension);
            for (size_t k = 0; k <= basis.size(); k++) {
                const uint64_t h = meetingHash(c.folderHash, longExtension, basis.substr(0, k));
                auto range = std::equal_range(shortNames.begin(), shortNames.end(), ShortName{h, 0, c}, hashBefore);
                for (auto s = range.first; s != range.second; ++s) {
                    // The hash matched; now compare exactly: the same folder (but another name in it), the
                    // extension, and the start of the basis.
                    const std::u16string& other = keys[s->entry];
                    const std::u16string shortName =
                        other.substr(s->component.start, s->component.end - s->component.start);
                    if (s->component.start != c.start || other.compare(0, c.start, keys[i], 0, c.start) != 0
                        || shortName == name)
                        continue;
                    shortNameShape(shortName, &prefix, &extension);
                    const bool plain = prefix == basis.substr(0, k);
                    const bool hashed = endsInHash(prefix) && prefix.size() - 4 == k
                                        && prefix.compare(0, k, basis, 0, k) == 0;
                    if (extension != longExtension || (!plain && !hashed))
                        continue;
                    found = clash(NameClashKind::ShortName, i, s->entry);
                    return;
                }
            }
        });
    return found;
}

void checkNamesAreDistinctOnWindows(const std::vector<std::string>& names)
{
    std::vector<std::u16string> units(names.size());
    for (size_t i = 0; i < names.size(); i++)
        if (!utf8ToUtf16(names[i], &units[i]))
            units[i] = cp437ToUtf16(names[i]);
    const NameClash c = findNameClash(units);
    if (c.kind == NameClashKind::None)
        return;
    const std::string both = "entries " + quotedForMessage(names[c.first]) + " and " + quotedForMessage(names[c.second]);
    switch (c.kind) {
    case NameClashKind::SameName:
        throw BuildError(both + " are one file on Windows (names compare without letter case, '/' and '\\' alike)");
    case NameClashKind::FileAndFolder:
        throw BuildError(both + " need a file and a folder of one name on Windows");
    case NameClashKind::ShortName:
        throw BuildError(both + " can be one file or folder on Windows: a name like NAME~1.EXT can be the "
                                "short name the system gives a long name beside it");
    case NameClashKind::None:
        break;
    }
}
