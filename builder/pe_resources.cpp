#include "pe_resources.h"

#include <algorithm>
#include <map>

#include "../startup/payload_format.h"
#include "build_error.h"
#include "pe_image.h"

const char resourceSectionName[8] = {'.', 'r', 's', 'r', 'c', '2', 0, 0};

enum : uint32_t {
    TABLE_SIZE = 16,
    ENTRY_SIZE = 8,
    DATA_ENTRY_SIZE = 16,
    HIGH_BIT = 0x80000000u,
    LEVELS = 3, // type, name, language
    // A tree of RES_MAX_RESOURCES resources has at most this many entries; more means shared subtrees.
    MAX_ENTRIES_VISITED = LEVELS * RES_MAX_RESOURCES,
    TREE_LIMIT = 0x40000000u,
};

ResourceName ResourceName::number(uint16_t id)
{
    ResourceName n;
    n.id = id;
    return n;
}

// Every check of the stub's tree goes through here.
static void need(bool condition, const char* what)
{
    if (!condition)
        throw BuildError(std::string("stub's resource directory is damaged: ") + what);
}

// File offset of length bytes at rva, when they lie in one section's raw data (and inside its virtual
// size, where the loader maps them).
static bool fileOffsetOf(const PeLayout& pe, uint32_t rva, uint32_t length, uint32_t* offset)
{
    for (const PeSection& s : pe.sections) {
        uint32_t mapped = s.virtualSize != 0 ? std::min(s.virtualSize, s.sizeOfRawData) : s.sizeOfRawData;
        if (rva >= s.virtualAddress && (uint64_t)(rva - s.virtualAddress) + length <= mapped) {
            *offset = s.pointerToRawData + (rva - s.virtualAddress);
            return true;
        }
    }
    return false;
}

namespace {

struct TreeReader {
    const std::vector<uint8_t>& image;
    const PeLayout& pe;
    uint32_t start;  // file offset of the directory
    uint32_t size;   // its size from the data directory
    uint32_t entriesVisited;
    std::vector<Resource>& out;

    const uint8_t* at(uint32_t offset) const { return &image[start + offset]; }

    ResourceName name(uint32_t field)
    {
        if (!(field & HIGH_BIT))
            return ResourceName::number((uint16_t)field);
        uint32_t offset = field & ~HIGH_BIT;
        need(offset < size && size - offset >= 2, "a name string lies outside it");
        uint32_t units = readLe16(at(offset));
        need(units > 0 && (size - offset - 2) / 2 >= units, "a name string is empty or runs past its end");
        ResourceName n;
        for (uint32_t i = 0; i < units; i++)
            n.text.push_back((char16_t)readLe16(at(offset + 2 + 2 * i)));
        return n;
    }

    void data(uint32_t offset, const Resource& where)
    {
        need(offset < size && size - offset >= DATA_ENTRY_SIZE, "a data entry lies outside it");
        need(out.size() < RES_MAX_RESOURCES, "it holds more than 4096 resources");
        uint32_t rva = readLe32(at(offset));
        uint32_t length = readLe32(at(offset + 4));
        uint32_t file = 0;
        need(fileOffsetOf(pe, rva, length, &file), "a resource's data lies outside the sections");
        Resource r = where;
        r.codePage = readLe32(at(offset + 8));
        r.data.assign(image.begin() + file, image.begin() + file + length);
        out.push_back(std::move(r));
    }

    // level 0: the types; 1: the names of one type; 2: the languages of one name.
    void table(uint32_t offset, uint32_t level, Resource& where)
    {
        need(offset < size && size - offset >= TABLE_SIZE, "a directory table lies outside it");
        uint32_t count = (uint32_t)readLe16(at(offset + 12)) + readLe16(at(offset + 14));
        need((size - offset - TABLE_SIZE) / ENTRY_SIZE >= count, "a directory table's entries run past its end");
        for (uint32_t i = 0; i < count; i++) {
            need(++entriesVisited <= MAX_ENTRIES_VISITED, "it holds more than 4096 resources");
            const uint8_t* entry = at(offset + TABLE_SIZE + i * ENTRY_SIZE);
            uint32_t nameField = readLe32(entry);
            uint32_t dataField = readLe32(entry + 4);
            ResourceName n = name(nameField);
            if (level == 0)
                where.type = n;
            else if (level == 1)
                where.name = n;
            else {
                need(n.text.empty(), "a language is named by a string");
                where.language = n.id;
            }
            bool subdirectory = (dataField & HIGH_BIT) != 0;
            need(subdirectory == (level + 1 < LEVELS), "a table or data entry stands at the wrong level");
            if (subdirectory)
                table(dataField & ~HIGH_BIT, level + 1, where);
            else
                data(dataField, where);
        }
    }
};

// Strings first, in ordinal order, then numbers in ascending order: the order the loader searches.
bool nameBefore(const ResourceName& a, const ResourceName& b)
{
    if (a.text.empty() != b.text.empty())
        return !a.text.empty();
    if (!a.text.empty())
        return a.text < b.text;
    return a.id < b.id;
}

struct NameNode {
    ResourceName name;
    std::vector<size_t> languages; // indexes of resources
};

struct TypeNode {
    ResourceName type;
    std::vector<NameNode> names;
};

uint32_t tableBytes(size_t entries)
{
    return TABLE_SIZE + (uint32_t)entries * ENTRY_SIZE;
}

void put16(std::vector<uint8_t>& out, uint32_t at, uint32_t v)
{
    writeLe16(&out[at], v);
}

void put32(std::vector<uint8_t>& out, uint32_t at, uint32_t v)
{
    writeLe32(&out[at], v);
}

} // namespace

std::vector<Resource> readResources(const std::vector<uint8_t>& image)
{
    const PeLayout pe = parsePe(image);
    std::vector<Resource> resources;
    if (pe.directoryCount <= PE_DIRECTORY_RESOURCE)
        return resources;
    uint32_t rva = readLe32(&image[pe.directoriesOffset + PE_DIRECTORY_RESOURCE * 8]);
    uint32_t size = readLe32(&image[pe.directoriesOffset + PE_DIRECTORY_RESOURCE * 8 + 4]);
    if (rva == 0 && size == 0)
        return resources;
    uint32_t start = 0;
    need(size >= TABLE_SIZE, "it is smaller than one directory table");
    need(fileOffsetOf(pe, rva, size, &start), "it lies outside the sections");
    TreeReader reader{image, pe, start, size, 0, resources};
    Resource where;
    reader.table(0, 0, where);
    return resources;
}

std::vector<uint8_t> writeResourceTree(const std::vector<Resource>& resources, uint32_t rva)
{
    std::vector<size_t> order(resources.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
        const Resource& a = resources[x];
        const Resource& b = resources[y];
        if (!(a.type == b.type))
            return nameBefore(a.type, b.type);
        if (!(a.name == b.name))
            return nameBefore(a.name, b.name);
        return a.language < b.language;
    });

    std::vector<TypeNode> types;
    for (size_t i : order) {
        const Resource& r = resources[i];
        if (r.type.text.size() > 0xFFFF || r.name.text.size() > 0xFFFF)
            throw BuildError("a resource name is longer than 65535 units");
        if (types.empty() || !(types.back().type == r.type))
            types.push_back(TypeNode{r.type, {}});
        std::vector<NameNode>& names = types.back().names;
        if (names.empty() || !(names.back().name == r.name))
            names.push_back(NameNode{r.name, {}});
        std::vector<size_t>& languages = names.back().languages;
        if (!languages.empty() && resources[languages.back()].language == r.language)
            throw BuildError("two resources share type, name and language");
        languages.push_back(i);
    }

    // Layout: the root table, the type tables, the name tables, the strings, the data entries (in tree
    // order), then the data, each on an 8-byte boundary.
    uint64_t cursor = tableBytes(types.size());
    std::vector<uint32_t> typeTables, nameTables;
    for (const TypeNode& t : types) {
        typeTables.push_back((uint32_t)cursor);
        cursor += tableBytes(t.names.size());
    }
    for (const TypeNode& t : types)
        for (const NameNode& n : t.names) {
            nameTables.push_back((uint32_t)cursor);
            cursor += tableBytes(n.languages.size());
        }
    std::map<std::u16string, uint32_t> strings;
    auto placeString = [&](const ResourceName& n) {
        if (!n.text.empty() && strings.emplace(n.text, (uint32_t)cursor).second)
            cursor += 2 + 2 * n.text.size();
    };
    for (const TypeNode& t : types) {
        placeString(t.type);
        for (const NameNode& n : t.names)
            placeString(n.name);
    }
    cursor = (cursor + 3) & ~3ull;
    const uint64_t dataEntries = cursor;
    cursor += (uint64_t)DATA_ENTRY_SIZE * resources.size();
    std::vector<uint32_t> dataAt(resources.size());
    for (const TypeNode& t : types)
        for (const NameNode& n : t.names)
            for (size_t i : n.languages) {
                cursor = (cursor + 7) & ~7ull;
                dataAt[i] = (uint32_t)cursor;
                cursor += resources[i].data.size();
                if (cursor >= TREE_LIMIT)
                    throw BuildError("the resources take 1 GiB or more");
            }

    std::vector<uint8_t> out((size_t)cursor, 0);
    for (const auto& s : strings) {
        put16(out, s.second, (uint32_t)s.first.size());
        for (size_t i = 0; i < s.first.size(); i++)
            put16(out, s.second + 2 + 2 * (uint32_t)i, s.first[i]);
    }
    auto nameField = [&](const ResourceName& n) { return n.text.empty() ? (uint32_t)n.id : HIGH_BIT | strings[n.text]; };
    auto writeTable = [&](uint32_t at, const std::vector<ResourceName>& names, const std::vector<uint32_t>& targets) {
        uint32_t named = 0;
        for (const ResourceName& n : names)
            named += n.text.empty() ? 0 : 1;
        put16(out, at + 12, named);
        put16(out, at + 14, (uint32_t)names.size() - named);
        for (size_t i = 0; i < names.size(); i++) {
            put32(out, at + TABLE_SIZE + (uint32_t)i * ENTRY_SIZE, nameField(names[i]));
            put32(out, at + TABLE_SIZE + (uint32_t)i * ENTRY_SIZE + 4, targets[i]);
        }
    };

    std::vector<ResourceName> rootNames;
    std::vector<uint32_t> rootTargets;
    size_t nameIndex = 0;
    uint32_t entryIndex = 0;
    for (size_t t = 0; t < types.size(); t++) {
        rootNames.push_back(types[t].type);
        rootTargets.push_back(HIGH_BIT | typeTables[t]);
        std::vector<ResourceName> names;
        std::vector<uint32_t> nameTargets;
        for (const NameNode& n : types[t].names) {
            uint32_t languageTable = nameTables[nameIndex++];
            names.push_back(n.name);
            nameTargets.push_back(HIGH_BIT | languageTable);
            std::vector<ResourceName> languages;
            std::vector<uint32_t> entries;
            for (size_t i : n.languages) {
                const Resource& r = resources[i];
                uint32_t entry = (uint32_t)dataEntries + entryIndex++ * DATA_ENTRY_SIZE;
                put32(out, entry, rva + dataAt[i]);
                put32(out, entry + 4, (uint32_t)r.data.size());
                put32(out, entry + 8, r.codePage);
                std::copy(r.data.begin(), r.data.end(), out.begin() + dataAt[i]);
                languages.push_back(ResourceName::number(r.language));
                entries.push_back(entry);
            }
            writeTable(languageTable, languages, entries);
        }
        writeTable(typeTables[t], names, nameTargets);
    }
    writeTable(0, rootNames, rootTargets);
    return out;
}

std::vector<uint8_t> withResourceSection(const std::vector<uint8_t>& image, const std::vector<Resource>& resources)
{
    const PeLayout pe = parsePe(image);
    if (pe.certificateOffset != 0 || pe.certificateSize != 0)
        throw BuildError("stub is signed; sign the finished self-extracting file instead");
    if (pe.directoryCount <= PE_DIRECTORY_RESOURCE)
        throw BuildError("stub's optional header has no entry for a resource directory");
    const uint32_t rva = nextSectionAddress(pe);
    const std::vector<uint8_t> tree = writeResourceTree(resources, rva);
    const uint32_t fa = pe.fileAlignment;
    if (image.size() >= TREE_LIMIT)
        throw BuildError("stub is too large");
    const uint32_t rawStart = alignUp((uint32_t)image.size(), fa);
    const uint32_t rawSize = alignUp((uint32_t)tree.size(), fa);

    std::vector<uint8_t> out;
    out.reserve((size_t)rawStart + rawSize);
    out.assign(image.begin(), image.end());
    out.resize(rawStart, 0);
    out.insert(out.end(), tree.begin(), tree.end());
    out.resize((size_t)rawStart + rawSize, 0);
    appendSectionHeader(out, pe, resourceSectionName, rawStart, rawSize);
    uint8_t* directory = &out[pe.directoriesOffset + PE_DIRECTORY_RESOURCE * 8];
    writeLe32(directory, rva);
    writeLe32(directory + 4, (uint32_t)tree.size());
    writeLe32(&out[pe.checksumOffset], peChecksum(out.data(), out.size(), pe.checksumOffset));
    return out;
}
