// The resource directory of a PE image, read into a flat list and written back as a complete new tree.
//
// Format notes (all integers little-endian; "offset" counts from the start of the resource directory,
// whose RVA and size are data directory 2 of the optional header):
// - A directory table is 16 bytes: Characteristics, TimeDateStamp (u32 each), MajorVersion, MinorVersion,
//   NumberOfNamedEntries, NumberOfIdEntries (u16 each), followed by its 8-byte entries: the named ones
//   first, sorted by their strings, then the numbered ones sorted by id.
// - An entry is Name (u32: high bit set = offset of a string, else the id in the low 16 bits), then
//   OffsetToData (u32: high bit set = offset of a directory table one level down, else offset of a data
//   entry).
// - A string is a u16 count of UTF-16 units followed by the units, no terminator; on a 2-byte boundary.
// - A data entry is 16 bytes: the data's RVA (an RVA, unlike every other offset here), Size, CodePage,
//   Reserved.
// - Three levels: type, name, language. The loader walks the tree by binary search, so the sort order
//   matters; rc compilers store names in upper case and FindResource looks them up upper-cased, which
//   makes ordinal order the right one.
// The tree is input like any other: every count, offset and size is checked before use, and the walk is
// bounded by its three levels and by a limit on the number of resources.
#ifndef AKSFX_PE_RESOURCES_H
#define AKSFX_PE_RESOURCES_H

#include <stdint.h>
#include <string>
#include <vector>

enum : uint16_t {
    RES_TYPE_ICON = 3,
    RES_TYPE_STRING = 6,
    RES_TYPE_GROUP_ICON = 14,
    RES_TYPE_VERSION = 16,
    RES_TYPE_MANIFEST = 24,
};

enum : uint32_t { RES_MAX_RESOURCES = 4096 };

// A type or a resource name: a number, or (when text is not empty) a string.
struct ResourceName {
    uint16_t id = 0;
    std::u16string text;

    static ResourceName number(uint16_t id);
    bool isNumber(uint16_t value) const { return text.empty() && id == value; }
    bool operator==(const ResourceName& other) const { return id == other.id && text == other.text; }
};

struct Resource {
    ResourceName type;
    ResourceName name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// The resources of a PE32 image, in tree order. An image without a resource directory has none. Throws
// BuildError ("stub's resource directory ...") for a tree that points outside the image or is too big.
std::vector<Resource> readResources(const std::vector<uint8_t>& image);

// The bytes of a complete resource directory for a section at rva: tables, strings, data entries and
// data. Throws BuildError when two resources share type, name and language.
std::vector<uint8_t> writeResourceTree(const std::vector<Resource>& resources, uint32_t rva);

// The image with one more section, ".rsrc2", appended at its end and holding the tree of resources;
// data directory 2 points at it and the PE checksum is recomputed. The old resource bytes stay where
// they are, unreferenced. Throws BuildError for a signed image, one without room for a section header,
// or one whose optional header has no resource directory entry.
std::vector<uint8_t> withResourceSection(const std::vector<uint8_t>& image, const std::vector<Resource>& resources);

extern const char resourceSectionName[8];

#endif
