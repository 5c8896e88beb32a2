// Stubs with resources for the tests of --icon, --version-info and --admin: the fake stub of
// builder_test_support.h with room for two more section headers, and resources like the real stub's.
#ifndef AKSFX_INSTALLER_FIXTURE_H
#define AKSFX_INSTALLER_FIXTURE_H

#include <stdint.h>
#include <string>
#include <vector>

#include "builder/pe_resources.h"
#include "builder_test_support.h"

namespace installer_fixture {

using namespace builder_test;

const uint32_t OPTIONAL_HEADER = 0x98; // in the fake stub
const uint32_t RESOURCE_DIRECTORY = OPTIONAL_HEADER + 96 + 2 * 8;

inline std::vector<uint8_t> bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

inline Resource resource(ResourceName type, ResourceName name, uint16_t language, const std::string& data)
{
    Resource r;
    r.type = type;
    r.name = name;
    r.language = language;
    r.data = bytes(data);
    return r;
}

inline ResourceName id(uint16_t n)
{
    return ResourceName::number(n);
}

inline ResourceName named(const char16_t* text)
{
    ResourceName n;
    n.text = text;
    return n;
}

inline const char* const manifestText =
    "<assembly><trustInfo><security><requestedPrivileges>\r\n"
    "  <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>\r\n"
    "</requestedPrivileges></security></trustInfo></assembly>";

// A stub's resources like the real one's: an icon group over two images, a second group with a third
// image, string tables in two languages, a manifest, and a named resource of a named type.
inline std::vector<Resource> stubResources()
{
    std::vector<uint8_t> group = {0, 0, 1, 0, 2, 0};         // reserved, type icon, two images
    for (uint8_t image = 1; image <= 2; image++) {
        const uint8_t entry[14] = {16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, image, 0}; // 16x16, 32 bit, id
        group.insert(group.end(), entry, entry + 14);
    }
    std::vector<uint8_t> otherGroup = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, 3, 0};
    std::vector<Resource> list = {
        resource(id(RES_TYPE_ICON), id(1), 0x413, "img1"),
        resource(id(RES_TYPE_ICON), id(2), 0x413, "img2"),
        resource(id(RES_TYPE_ICON), id(3), 0x413, "img3"),
        resource(id(RES_TYPE_STRING), id(63), 0x413, "Dutch texts"),
        resource(id(RES_TYPE_STRING), id(63), 0x409, "English texts"),
        resource(id(RES_TYPE_GROUP_ICON), id(1), 0x413, ""),
        resource(id(RES_TYPE_GROUP_ICON), id(2), 0x413, ""),
        resource(id(RES_TYPE_MANIFEST), id(1), 0x413, manifestText),
        resource(named(u"CUSTOM"), named(u"HELLO"), 0x413, "hello"),
    };
    list[5].data = group;
    list[6].data = otherGroup;
    return list;
}

inline uint32_t le32(const std::vector<uint8_t>& f, size_t at)
{
    return readLe32(&f[at]);
}

// The fake stub with 0x200 more bytes of headers: room for the resource section and the archive's.
inline std::vector<uint8_t> roomyStub()
{
    std::vector<uint8_t> f = makeFakeStub();
    f.insert(f.begin() + 0x200, 0x200, 0);
    put32(f, OPTIONAL_HEADER + 60, 0x400); // SizeOfHeaders
    for (uint32_t s = 0; s < 2; s++) {
        uint32_t field = 0x178 + s * 40 + 20; // PointerToRawData
        put32(f, field, le32(f, field) + 0x200);
    }
    return f;
}

// A stub that holds stubResources() in a resource section.
inline std::vector<uint8_t> stubWithResources()
{
    return withResourceSection(roomyStub(), stubResources());
}

} // namespace installer_fixture

#endif
