#include "installer_resources.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "../startup/payload_format.h"
#include "build_error.h"
#include "pe_resources.h"
#include "sfx_writer.h"
#include "unicode_text.h"

enum : uint32_t {
    ICON_DIRECTORY_SIZE = 6,
    ICON_ENTRY_SIZE = 16,
    GROUP_ENTRY_SIZE = 14,
    BITMAP_HEADER_SIZE = 40,
    FIXED_INFO_SIGNATURE = 0xFEEF04BD,
    FIXED_INFO_STRUCTURE_VERSION = 0x00010000,
    FIXED_INFO_FLAGS_MASK = 0x3F,
    FIXED_INFO_OS_NT_WINDOWS32 = 0x00040004,
    FIXED_INFO_TYPE_APP = 1,
    VERSION_RESOURCE_LIMIT = 0xFFFF,
};

static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// ---- Icon files ----

// Every check of an icon file goes through here.
static void needIcon(bool condition, const std::string& what)
{
    if (!condition)
        throw BuildError(what);
}

std::vector<IconImage> parseIconFile(const std::vector<uint8_t>& file)
{
    needIcon(file.size() >= ICON_DIRECTORY_SIZE, "not an icon file: too short for an icon directory");
    needIcon(file.size() <= ICON_MAX_FILE_BYTES, "the icon file is larger than "
                                                     + std::to_string(ICON_MAX_FILE_BYTES >> 20) + " MiB");
    const uint32_t reserved = readLe16(&file[0]);
    const uint32_t type = readLe16(&file[2]);
    needIcon(!(reserved == 0 && type == 2), "not an icon file: a cursor file");
    needIcon(reserved == 0 && type == 1, "not an icon file (.ico): no icon directory at its start");
    const uint32_t count = readLe16(&file[4]);
    needIcon(count > 0, "the icon file holds no images");
    needIcon(count <= ICON_MAX_IMAGES, "the icon file counts " + std::to_string(count) + " images; at most "
                                           + std::to_string(ICON_MAX_IMAGES) + " are taken");
    const uint64_t directoryEnd = ICON_DIRECTORY_SIZE + (uint64_t)count * ICON_ENTRY_SIZE;
    needIcon(directoryEnd <= file.size(), "the icon file is truncated: its directory of " + std::to_string(count)
                                              + " images runs past the end of the file");
    struct Place {
        uint32_t offset, size, image;
        bool operator<(const Place& other) const { return offset < other.offset; }
    };
    std::vector<Place> places;
    std::vector<IconImage> images(count);
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* e = &file[ICON_DIRECTORY_SIZE + i * ICON_ENTRY_SIZE];
        const uint32_t size = readLe32(e + 8);
        const uint32_t offset = readLe32(e + 12);
        const std::string image = "icon image " + std::to_string(i + 1) + " ";
        needIcon(size > 0, image + "is empty");
        needIcon(offset >= directoryEnd, image + "overlaps the icon directory");
        needIcon((uint64_t)offset + size <= file.size(), image + "runs past the end of the file");
        const uint8_t* data = &file[offset];
        bool png = size >= sizeof pngSignature && memcmp(data, pngSignature, sizeof pngSignature) == 0;
        bool bitmap = size >= BITMAP_HEADER_SIZE && readLe32(data) == BITMAP_HEADER_SIZE;
        needIcon(png || bitmap, image + "is neither a bitmap nor a PNG");
        memcpy(images[i].entry, e, sizeof images[i].entry);
        places.push_back(Place{offset, size, i});
    }
    // Each image has bytes of its own; only then are they copied, together no more than the file.
    std::stable_sort(places.begin(), places.end());
    for (size_t k = 1; k < places.size(); k++) {
        const Place& a = places[k - 1];
        const Place& b = places[k];
        needIcon((uint64_t)a.offset + a.size <= b.offset, "icon images " + std::to_string(std::min(a.image, b.image) + 1)
                                                               + " and " + std::to_string(std::max(a.image, b.image) + 1)
                                                               + " share bytes of the file");
    }
    for (const Place& p : places)
        images[p.image].data.assign(file.begin() + p.offset, file.begin() + p.offset + p.size);
    return images;
}

// ---- Version texts ----

static const char* const versionKeys[] = {
    "Comments",         "CompanyName",     "FileDescription", "FileVersion",  "InternalName", "LegalCopyright",
    "LegalTrademarks",  "OriginalFilename", "PrivateBuild",   "ProductName",  "ProductVersion", "SpecialBuild",
};

static std::string trimmed(const std::string& s)
{
    size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

static bool sameIgnoringCase(const std::string& a, const char* b)
{
    if (a.size() != strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i]))
            return false;
    return true;
}

// "1", "1.2", "1.2.3" or "1.2.3.4", each number 0-65535 in decimal digits.
static bool parseVersionNumbers(const std::string& text, uint16_t out[4])
{
    uint16_t numbers[4] = {0, 0, 0, 0};
    uint32_t part = 0;
    size_t digits = 0;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0 || part == 3)
                return false;
            part++;
            digits = 0;
            continue;
        }
        if (c < '0' || c > '9' || digits == 5)
            return false;
        uint32_t value = numbers[part] * 10u + (uint32_t)(c - '0');
        if (value > 0xFFFF)
            return false;
        numbers[part] = (uint16_t)value;
        digits++;
    }
    if (digits == 0)
        return false;
    memcpy(out, numbers, sizeof numbers);
    return true;
}

VersionInfo parseVersionInfo(const std::string& text)
{
    std::u16string check;
    if (!utf8ToUtf16(text, &check))
        throw UsageError("--version-info text is not valid UTF-8");
    VersionInfo info;
    std::string fileVersion, productVersion;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        const bool last = end == text.size();
        start = end + 1;
        if (trimmed(item).empty()) {
            if (last && !info.strings.empty())
                break; // a trailing ';'
            throw UsageError("--version-info has an empty item; give Key=Text items separated by ';'");
        }
        size_t equals = item.find('=');
        if (equals == std::string::npos)
            throw UsageError("--version-info item \"" + trimmed(item) + "\" is not Key=Text");
        const std::string key = trimmed(item.substr(0, equals));
        const std::string value = trimmed(item.substr(equals + 1));
        const char* known = nullptr;
        for (const char* k : versionKeys)
            if (sameIgnoringCase(key, k))
                known = k;
        if (!known)
            throw UsageError("--version-info does not know the key \"" + key
                             + "\" (ProductName, FileVersion, ProductVersion, CompanyName, FileDescription, "
                               "LegalCopyright, ...)");
        for (const auto& s : info.strings)
            if (utf16ToUtf8(s.first) == known)
                throw UsageError(std::string("--version-info gives ") + known + " twice");
        if (value.empty())
            throw UsageError(std::string("--version-info gives ") + known + " an empty text");
        for (unsigned char c : value)
            if (c < 0x20 || c == 0x7F)
                throw UsageError(std::string("--version-info text of ") + known + " holds a control character");
        std::u16string key16, value16;
        utf8ToUtf16(known, &key16);
        utf8ToUtf16(value, &value16);
        if (value16.size() > VERSION_VALUE_MAX_UNITS)
            throw UsageError(std::string("--version-info text of ") + known + " is longer than "
                             + std::to_string(VERSION_VALUE_MAX_UNITS) + " UTF-16 units");
        if (strcmp(known, "FileVersion") == 0)
            fileVersion = value;
        if (strcmp(known, "ProductVersion") == 0)
            productVersion = value;
        info.strings.emplace_back(key16, value16);
    }
    if (fileVersion.empty())
        throw UsageError("--version-info needs FileVersion=a.b.c.d");
    const char* form = "\" is not 1 to 4 numbers from 0 to 65535 separated by dots";
    if (!parseVersionNumbers(fileVersion, info.fileVersion))
        throw UsageError("--version-info FileVersion \"" + fileVersion + form);
    if (productVersion.empty()) {
        memcpy(info.productVersion, info.fileVersion, sizeof info.fileVersion);
        std::u16string text16;
        utf8ToUtf16(fileVersion, &text16);
        info.strings.emplace_back(u"ProductVersion", text16);
    } else if (!parseVersionNumbers(productVersion, info.productVersion)) {
        throw UsageError("--version-info ProductVersion \"" + productVersion + form);
    }
    return info;
}

namespace {

// Writes version nodes: begin() puts the header and key, the caller the value, end() fills in wLength.
struct VersionWriter {
    std::vector<uint8_t> out;

    void pad()
    {
        while (out.size() % 4)
            out.push_back(0);
    }
    void add16(uint32_t v)
    {
        out.push_back((uint8_t)v);
        out.push_back((uint8_t)(v >> 8));
    }
    void add32(uint32_t v)
    {
        add16(v & 0xFFFF);
        add16(v >> 16);
    }
    void addText(const std::u16string& text)
    {
        for (char16_t c : text)
            add16(c);
        add16(0);
    }
    size_t begin(const std::u16string& key, uint32_t valueLength, uint32_t type)
    {
        pad();
        size_t start = out.size();
        add16(0); // wLength, filled in by end()
        add16(valueLength);
        add16(type);
        addText(key);
        pad();
        return start;
    }
    void end(size_t start)
    {
        size_t length = out.size() - start;
        if (length > VERSION_RESOURCE_LIMIT)
            throw UsageError("--version-info texts make the version resource larger than 65535 bytes");
        out[start] = (uint8_t)length;
        out[start + 1] = (uint8_t)(length >> 8);
    }
};

uint32_t high(const uint16_t v[4]) { return (uint32_t)v[0] << 16 | v[1]; }
uint32_t low(const uint16_t v[4]) { return (uint32_t)v[2] << 16 | v[3]; }

} // namespace

std::vector<uint8_t> versionResource(const VersionInfo& info)
{
    VersionWriter w;
    size_t root = w.begin(u"VS_VERSION_INFO", 52, 0);
    w.add32(FIXED_INFO_SIGNATURE);
    w.add32(FIXED_INFO_STRUCTURE_VERSION);
    w.add32(high(info.fileVersion));
    w.add32(low(info.fileVersion));
    w.add32(high(info.productVersion));
    w.add32(low(info.productVersion));
    w.add32(FIXED_INFO_FLAGS_MASK);
    w.add32(0); // flags: none (no debug, pre-release, patched ... build)
    w.add32(FIXED_INFO_OS_NT_WINDOWS32);
    w.add32(FIXED_INFO_TYPE_APP);
    w.add32(0); // subtype
    w.add32(0); // date MS
    w.add32(0); // date LS

    size_t stringInfo = w.begin(u"StringFileInfo", 0, 1);
    size_t table = w.begin(u"041304B0", 0, 1);
    for (const auto& s : info.strings) {
        size_t node = w.begin(s.first, (uint32_t)s.second.size() + 1, 1);
        w.addText(s.second);
        w.end(node);
    }
    w.end(table);
    w.end(stringInfo);

    size_t varInfo = w.begin(u"VarFileInfo", 0, 1);
    size_t translation = w.begin(u"Translation", 4, 0);
    w.add16(VERSION_LANGUAGE);
    w.add16(VERSION_CODE_PAGE);
    w.end(translation);
    w.end(varInfo);
    w.end(root);
    return w.out;
}

// ---- Manifest ----

std::vector<uint8_t> manifestRequiringAdministrator(const std::vector<uint8_t>& manifest)
{
    std::string text(manifest.begin(), manifest.end());
    const std::string element = "<requestedExecutionLevel";
    size_t at = text.find(element);
    if (at == std::string::npos || text.find(element, at + 1) != std::string::npos)
        throw BuildError("stub's manifest does not hold exactly one requestedExecutionLevel element");
    size_t close = text.find('>', at);
    size_t level = text.find(" level=", at);
    if (close == std::string::npos || level == std::string::npos || level > close || level + 8 >= close
        || (text[level + 7] != '"' && text[level + 7] != '\''))
        throw BuildError("stub's manifest has no quoted level in its requestedExecutionLevel element");
    size_t valueStart = level + 8;
    size_t valueEnd = text.find(text[level + 7], valueStart);
    if (valueEnd == std::string::npos || valueEnd > close)
        throw BuildError("stub's manifest has no quoted level in its requestedExecutionLevel element");
    text.replace(valueStart, valueEnd - valueStart, "requireAdministrator");
    return std::vector<uint8_t>(text.begin(), text.end());
}

// ---- The stub ----

static bool isResource(const Resource& r, uint16_t type, uint16_t name)
{
    return r.type.isNumber(type) && r.name.isNumber(name);
}

// Removes icon group 1 and the images it lists; returns the group's language (the stub's own first
// resource's language, or Dutch, when there is no such group).
static uint16_t removeIconGroup(std::vector<Resource>& resources)
{
    uint16_t language = resources.empty() ? (uint16_t)VERSION_LANGUAGE : resources.front().language;
    std::set<uint16_t> images;
    bool found = false;
    for (const Resource& r : resources) {
        if (!isResource(r, RES_TYPE_GROUP_ICON, 1))
            continue;
        if (!found)
            language = r.language;
        found = true;
        if (r.data.size() < ICON_DIRECTORY_SIZE)
            throw BuildError("stub's icon group 1 is damaged: shorter than its header");
        uint32_t count = readLe16(&r.data[4]);
        if (r.data.size() < ICON_DIRECTORY_SIZE + (uint64_t)count * GROUP_ENTRY_SIZE)
            throw BuildError("stub's icon group 1 is damaged: its entries run past its end");
        for (uint32_t i = 0; i < count; i++)
            images.insert(readLe16(&r.data[ICON_DIRECTORY_SIZE + i * GROUP_ENTRY_SIZE + 12]));
    }
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource& r) {
                                       return isResource(r, RES_TYPE_GROUP_ICON, 1)
                                              || (r.type.isNumber(RES_TYPE_ICON) && r.name.text.empty()
                                                  && images.count(r.name.id));
                                   }),
                    resources.end());
    return language;
}

static void addIconGroup(std::vector<Resource>& resources, const std::vector<IconImage>& icon, uint16_t language)
{
    std::set<uint16_t> taken;
    for (const Resource& r : resources)
        if (r.type.isNumber(RES_TYPE_ICON) && r.name.text.empty())
            taken.insert(r.name.id);
    Resource group;
    group.type = ResourceName::number(RES_TYPE_GROUP_ICON);
    group.name = ResourceName::number(1);
    group.language = language;
    group.data = {0, 0, 1, 0, (uint8_t)icon.size(), (uint8_t)(icon.size() >> 8)}; // reserved, type icon, count
    uint16_t id = 1;
    for (const IconImage& image : icon) {
        while (taken.count(id))
            id++;
        Resource r;
        r.type = ResourceName::number(RES_TYPE_ICON);
        r.name = ResourceName::number(id);
        r.language = language;
        r.data = image.data;
        resources.push_back(std::move(r));
        group.data.insert(group.data.end(), image.entry, image.entry + sizeof image.entry);
        group.data.push_back((uint8_t)id);
        group.data.push_back((uint8_t)(id >> 8));
        id++;
    }
    resources.push_back(std::move(group));
}

std::vector<uint8_t> customiseStub(const std::vector<uint8_t>& stub, const StubCustomisation& c)
{
    std::vector<Resource> resources = readResources(stub);
    if (!c.icon.empty())
        addIconGroup(resources, c.icon, removeIconGroup(resources));
    if (c.hasVersion) {
        resources.erase(std::remove_if(resources.begin(), resources.end(),
                                       [](const Resource& r) { return r.type.isNumber(RES_TYPE_VERSION); }),
                        resources.end());
        Resource version;
        version.type = ResourceName::number(RES_TYPE_VERSION);
        version.name = ResourceName::number(1);
        version.language = VERSION_LANGUAGE;
        version.data = versionResource(c.version);
        resources.push_back(std::move(version));
    }
    if (c.administrator) {
        bool found = false;
        for (Resource& r : resources)
            if (isResource(r, RES_TYPE_MANIFEST, 1)) {
                r.data = manifestRequiringAdministrator(r.data);
                found = true;
            }
        if (!found)
            throw BuildError("stub has no manifest (resource type 24, id 1) to ask for administrator rights in");
    }
    std::vector<uint8_t> out = withResourceSection(stub, resources);
    // The new section is made of the stub's own resources, which hold no signature (the stub's block is
    // the only copy), and what the user gave: an icon or texts that hold its bytes would make the block
    // ambiguous.
    if (findBlockSignature(out.data() + stub.size(), (uint32_t)(out.size() - stub.size()), blockSignature) >= 0)
        throw BuildError("the icon or the version texts hold the bytes of the stub's parameter block signature");
    return out;
}
