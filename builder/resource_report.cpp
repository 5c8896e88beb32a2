#include "resource_report.h"

#include <ctype.h>

#include <algorithm>

#include "../startup/payload_format.h"
#include "unicode_text.h"

enum : uint32_t {
    GROUP_HEADER_SIZE = 6,
    GROUP_ENTRY_SIZE = 14,
    BITMAP_BIT_COUNT_FIELD = 14,
    VERSION_NODE_HEADER = 6,
    FIXED_INFO_SIGNATURE = 0xFEEF04BD,
    FIXED_INFO_SIZE = 52,
};

// Every length and offset taken from a resource goes through here.
static bool inside(size_t size, uint64_t offset, uint64_t length)
{
    return offset <= size && length <= size - offset;
}

static const Resource* findResource(const std::vector<Resource>& resources, uint16_t type, uint16_t id)
{
    for (const Resource& r : resources)
        if (r.type.isNumber(type) && r.name.isNumber(id))
            return &r;
    return nullptr;
}

static std::string nameText(const ResourceName& n)
{
    return n.text.empty() ? std::to_string(n.id) : "\"" + utf16ToUtf8(n.text) + "\"";
}

std::string iconGroupLine(const std::vector<Resource>& resources)
{
    const Resource* group = nullptr;
    for (const Resource& r : resources)
        if (r.type.isNumber(RES_TYPE_GROUP_ICON)) {
            group = &r;
            break;
        }
    if (!group)
        return "icon: none";
    const std::vector<uint8_t>& d = group->data;
    const std::string label = "icon group " + nameText(group->name) + ": ";
    if (!inside(d.size(), 0, GROUP_HEADER_SIZE))
        return label + "damaged (shorter than its header)";
    const uint32_t count = readLe16(&d[4]);
    if (!inside(d.size(), GROUP_HEADER_SIZE, (uint64_t)count * GROUP_ENTRY_SIZE))
        return label + "damaged (its " + std::to_string(count) + " entries run past its end)";
    std::string line = label + std::to_string(count) + (count == 1 ? " image" : " images");
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* e = &d[GROUP_HEADER_SIZE + i * GROUP_ENTRY_SIZE];
        const uint32_t width = e[0] ? e[0] : 256, height = e[1] ? e[1] : 256;
        uint32_t bits = readLe16(e + 6);
        const Resource* image = findResource(resources, RES_TYPE_ICON, readLe16(e + 12));
        std::string kind = "missing";
        if (image) {
            static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
            const std::vector<uint8_t>& data = image->data;
            if (inside(data.size(), 0, 8) && std::equal(png, png + 8, data.begin())) {
                kind = "PNG";
            } else {
                kind = "bitmap";
                if (bits == 0 && inside(data.size(), BITMAP_BIT_COUNT_FIELD, 2))
                    bits = readLe16(&data[BITMAP_BIT_COUNT_FIELD]);
            }
        }
        line += (i == 0 ? ": " : ", ") + std::to_string(width) + "x" + std::to_string(height) + " "
                + std::to_string(bits) + "-bit " + kind;
    }
    return line;
}

namespace {

// One node of a version resource; offsets count from the resource's start.
struct VersionNode {
    uint32_t start, end;        // the node: [start, end)
    std::u16string key;
    uint32_t valueStart, valueBytes;
    uint32_t childrenStart;
};

uint32_t align4(uint32_t v)
{
    return (v + 3) & ~3u;
}

// Reads the node at start, which must end by limit. False when it does not fit.
bool readNode(const std::vector<uint8_t>& d, uint32_t start, uint32_t limit, VersionNode* n)
{
    if (!inside(limit, start, VERSION_NODE_HEADER))
        return false;
    const uint32_t length = readLe16(&d[start]);
    const uint32_t valueLength = readLe16(&d[start + 2]);
    const uint32_t type = readLe16(&d[start + 4]);
    if (length < VERSION_NODE_HEADER || !inside(limit, start, length))
        return false;
    n->start = start;
    n->end = start + length;
    n->key.clear();
    uint32_t p = start + VERSION_NODE_HEADER;
    for (;;) { // the key: bounded by the node's end
        if (!inside(n->end, p, 2))
            return false;
        char16_t c = readLe16(&d[p]);
        p += 2;
        if (c == 0)
            break;
        n->key.push_back(c);
    }
    n->valueStart = align4(p);
    n->valueBytes = type == 1 ? valueLength * 2 : valueLength;
    if (n->valueStart > n->end)
        n->valueStart = n->end;
    if (!inside(n->end, n->valueStart, n->valueBytes))
        n->valueBytes = n->end - n->valueStart; // some writers count text in bytes: keep to the node
    n->childrenStart = align4(n->valueStart + n->valueBytes);
    return true;
}

// The children of a node, each ending by the node's end. False when one does not fit.
bool children(const std::vector<uint8_t>& d, const VersionNode& parent, std::vector<VersionNode>* out)
{
    out->clear();
    uint32_t p = parent.childrenStart;
    while (p < parent.end) { // each child is at least 6 bytes long, so this ends
        VersionNode child;
        if (!readNode(d, p, parent.end, &child))
            return false;
        out->push_back(child);
        p = align4(child.end);
    }
    return true;
}

std::string textValue(const std::vector<uint8_t>& d, const VersionNode& n)
{
    std::u16string text;
    for (uint32_t p = n.valueStart; p + 2 <= n.valueStart + n.valueBytes; p += 2) {
        char16_t c = readLe16(&d[p]);
        if (c == 0)
            break;
        text.push_back(c);
    }
    return quotedForMessage(utf16ToUtf8(text));
}

std::string versionNumber(uint32_t high, uint32_t low)
{
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "."
           + std::to_string(low & 0xFFFF);
}

} // namespace

std::vector<std::string> versionLines(const std::vector<uint8_t>& d)
{
    const std::string damaged = "version resource: damaged (a node runs past what holds it)";
    VersionNode root;
    if (d.size() > 0xFFFF || !readNode(d, 0, (uint32_t)d.size(), &root))
        return {damaged};
    std::vector<std::string> lines;
    if (root.valueBytes >= FIXED_INFO_SIZE && readLe32(&d[root.valueStart]) == FIXED_INFO_SIGNATURE) {
        const uint8_t* f = &d[root.valueStart];
        lines.push_back("fixed FileVersion " + versionNumber(readLe32(f + 8), readLe32(f + 12)) + ", ProductVersion "
                        + versionNumber(readLe32(f + 16), readLe32(f + 20)));
    } else {
        lines.push_back("fixed version: none");
    }
    std::vector<VersionNode> level1, tables, strings;
    if (!children(d, root, &level1))
        return {damaged};
    for (const VersionNode& info : level1) {
        if (info.key != u"StringFileInfo")
            continue;
        if (!children(d, info, &tables))
            return {damaged};
        for (const VersionNode& table : tables) {
            if (!children(d, table, &strings))
                return {damaged};
            for (const VersionNode& s : strings)
                lines.push_back(utf16ToUtf8(s.key) + "=" + textValue(d, s));
        }
    }
    return lines;
}

std::string executionLevel(const std::vector<uint8_t>& manifest)
{
    const std::string text(manifest.begin(), manifest.end());
    const std::string element = "<requestedExecutionLevel";
    size_t at = text.find(element);
    if (at == std::string::npos)
        return "(no requestedExecutionLevel: asInvoker)";
    size_t close = text.find('>', at);
    size_t level = text.find("level=", at);
    // " level=" and not "uiAccess=..."'s tail: the attribute name starts after a blank.
    while (level != std::string::npos && level < close && text[level - 1] != ' ' && text[level - 1] != '\t'
           && text[level - 1] != '\n' && text[level - 1] != '\r')
        level = text.find("level=", level + 1);
    if (close == std::string::npos || level == std::string::npos || level > close || level + 7 >= close)
        return "(a requestedExecutionLevel without a level)";
    const char quote = text[level + 6];
    size_t end = text.find(quote, level + 7);
    if ((quote != '"' && quote != '\'') || end == std::string::npos || end > close)
        return "(a requestedExecutionLevel without a quoted level)";
    const std::string value = text.substr(level + 7, end - level - 7);
    for (char c : value)
        if (!isalpha((unsigned char)c))
            return quotedForMessage(value);
    return value;
}
