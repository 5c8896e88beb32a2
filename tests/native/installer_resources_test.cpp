// The resource directory the tool writes for --icon, --version-info and --admin: the tree read back by the
// tool's own reader, by wrestool and by the trees GNU windres and ld make; the PE fields a new section
// changes; damaged trees, icon files, version texts and manifests the tool refuses; and signing the
// finished file with osslsigncode.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "builder/build_error.h"
#include "builder/installer_resources.h"
#include "builder/pe_resources.h"
#include "builder/sfx_check.h"
#include "builder/sfx_writer.h"
#include "builder/unicode_text.h"
#include "builder_test_support.h"
#include "icon_fixture.h"
#include "installer_fixture.h"

using namespace builder_test;
using namespace installer_fixture;

namespace {

std::string describe(const ResourceName& n)
{
    return n.text.empty() ? std::to_string(n.id) : "'" + utf16ToUtf8(n.text) + "'";
}

// "type/name/language: N bytes", one line per resource, in the order given; sorted, to compare sets.
std::string listing(const std::vector<Resource>& resources)
{
    std::string out;
    for (const Resource& r : resources)
        out += describe(r.type) + "/" + describe(r.name) + "/" + std::to_string(r.language) + ": "
               + std::to_string(r.data.size()) + " bytes\n";
    return out;
}

std::string sortedListing(const std::vector<Resource>& resources)
{
    std::vector<std::string> lines;
    std::istringstream in(listing(resources));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

const Resource* find(const std::vector<Resource>& resources, uint16_t type, uint16_t name)
{
    for (const Resource& r : resources)
        if (r.type.isNumber(type) && r.name.isNumber(name))
            return &r;
    return nullptr;
}

// The stub with a section holding tree as it stands (offsets inside it count from the section's start)
// and the resource directory pointing at it; directorySize 0 means the tree's size.
std::vector<uint8_t> stubWithTree(const std::vector<uint8_t>& tree, uint32_t directorySize = 0)
{
    std::vector<uint8_t> f = roomyStub();
    PeLayout pe = parsePe(f);
    uint32_t raw = alignUp((uint32_t)f.size(), pe.fileAlignment);
    uint32_t rawSize = alignUp((uint32_t)tree.size(), pe.fileAlignment);
    f.resize(raw, 0);
    f.insert(f.end(), tree.begin(), tree.end());
    f.resize(raw + rawSize, 0);
    put32(f, RESOURCE_DIRECTORY, nextSectionAddress(pe));
    put32(f, RESOURCE_DIRECTORY + 4, directorySize ? directorySize : (uint32_t)tree.size());
    appendSectionHeader(f, pe, resourceSectionName, raw, rawSize);
    return f;
}

ZipArchive oneFileArchive()
{
    ZipArchive a;
    ZipEntry e;
    e.name = "setup.exe";
    e.data = {'M', 'Z'};
    e.uncompressedSize = 2;
    e.crc = 0x8FB09B5D; // CRC-32 of "MZ"
    a.entries.push_back(e);
    a.centralOrder = {0};
    return a;
}

std::string refusal(const std::function<void()>& action)
{
    try {
        action();
    } catch (const BuildError& e) {
        return e.what();
    }
    return "(accepted)";
}

// ---- An independent reader of version resources ----

struct VersionNode {
    std::u16string key;
    std::vector<uint8_t> value;
    uint32_t valueLength;
    uint32_t type;
    std::vector<VersionNode> children;
};

// Reads the node at data[at] (length bytes available); checks its length and the 4-byte alignment.
VersionNode readVersionNode(const std::vector<uint8_t>& data, size_t at, size_t end, bool textValue)
{
    VersionNode n;
    EXPECT_EQ(at % 4, 0u) << "node not on a 4-byte boundary";
    size_t length = readLe16(&data[at]);
    EXPECT_LE(at + length, end);
    n.valueLength = readLe16(&data[at + 2]);
    n.type = readLe16(&data[at + 4]);
    size_t p = at + 6;
    while (readLe16(&data[p]) != 0) {
        n.key.push_back(readLe16(&data[p]));
        p += 2;
    }
    p = (p + 2 + 3) & ~(size_t)3;
    size_t valueBytes = textValue ? n.valueLength * 2 : n.valueLength;
    n.value.assign(data.begin() + p, data.begin() + p + valueBytes);
    p = (p + valueBytes + 3) & ~(size_t)3;
    const bool childrenAreTexts = n.key == u"041304B0"; // the string table's children
    while (p < at + length) {
        size_t childLength = readLe16(&data[p]);
        if (childLength == 0) {
            ADD_FAILURE() << "a child node of length 0";
            break;
        }
        n.children.push_back(readVersionNode(data, p, at + length, childrenAreTexts));
        p = (p + childLength + 3) & ~(size_t)3;
    }
    return n;
}

std::u16string textOf(const VersionNode& n)
{
    std::u16string s;
    for (size_t i = 0; i + 1 < n.value.size(); i += 2)
        s.push_back(readLe16(&n.value[i]));
    while (!s.empty() && s.back() == 0)
        s.pop_back();
    return s;
}

} // namespace

// ---- The tree ----

// GNU windres and ld make the stub's tree: what they wrote, the reader finds, and a tree rewritten from
// it lists the same resources in wrestool.
TEST(PeResources, ReadsAndRewritesTheTreeGnuToolsMake)
{
    if (!haveTool("i686-w64-mingw32-windres") || !haveTool("i686-w64-mingw32-ld"))
        GTEST_SKIP() << "the mingw-w64 tools are missing";
    TempDir dir;
    fs::path log = dir / "tools.log";
    writeFile(dir / "a.ico", icon_fixture::makeIcon({{16, 0xFF0000FF}, {32, 0xFF00FF00}}));
    writeFile(dir / "r.rc", std::string("LANGUAGE 0x13, 0x01\n"
                                        "1 ICON \"a.ico\"\n"
                                        "HELLO CUSTOM { \"hello\" }\n"
                                        "1 24 { \"<assembly/>\" }\n"
                                        "STRINGTABLE { 1 \"een\" }\n"
                                        "LANGUAGE 0x09, 0x01\n"
                                        "STRINGTABLE { 1 \"one\" }\n"));
    ASSERT_EQ(run("cd '" + dir.path.string() + "' && i686-w64-mingw32-windres r.rc -O coff -o r.o"
                  " && i686-w64-mingw32-ld -o r.exe r.o --subsystem windows -e 0", log), 0) << logText(log);
    std::vector<uint8_t> image = readFile(dir / "r.exe");

    std::vector<Resource> found = readResources(image);
    EXPECT_EQ(listing(found), "'CUSTOM'/'HELLO'/1043: 5 bytes\n"
                              "3/1/1043: " + std::to_string(icon_fixture::imageBytes({16, 0}).size()) + " bytes\n"
                              "3/2/1043: " + std::to_string(icon_fixture::imageBytes({32, 0}).size()) + " bytes\n"
                              "6/1/1033: 38 bytes\n"
                              "6/1/1043: 38 bytes\n"
                              "14/1/1043: 34 bytes\n"
                              "24/1/1043: 11 bytes\n")
        << listing(found);
    const Resource* second = find(found, RES_TYPE_ICON, 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->data, icon_fixture::imageBytes({32, 0xFF00FF00}));
    const Resource* manifest = find(found, RES_TYPE_MANIFEST, 1);
    ASSERT_NE(manifest, nullptr);
    EXPECT_EQ(std::string(manifest->data.begin(), manifest->data.end()), "<assembly/>");

    std::vector<uint8_t> rewritten = withResourceSection(image, found);
    EXPECT_EQ(listing(readResources(rewritten)), listing(found));
    for (size_t i = 0; i < found.size(); i++)
        EXPECT_EQ(readResources(rewritten)[i].data, found[i].data) << i;
    if (!haveTool("wrestool"))
        return;
    writeFile(dir / "rewritten.exe", rewritten);
    // wrestool prints each resource with its offset, which moves: compare without it.
    auto wrestoolList = [&](const std::string& file) {
        fs::path out = dir / (file + ".list");
        EXPECT_EQ(run("wrestool -l '" + (dir / file).string() + "' | sed 's/offset=0x[0-9a-f]* //' | tee '"
                          + out.string() + "'", log), 0);
        return logText(out);
    };
    std::string original = wrestoolList("r.exe");
    EXPECT_NE(original.find("--type=14 --name=1 --language=1043"), std::string::npos) << original;
    EXPECT_EQ(wrestoolList("rewritten.exe"), original);
}

TEST(PeResources, EachLevelIsSortedForTheLoadersSearch)
{
    // Given in the reverse of tree order; the tree puts strings first (ordinal), then ids ascending.
    std::vector<Resource> given = {
        resource(id(24), id(1), 0x413, "m"),
        resource(id(6), id(2), 0x413, "b"),
        resource(id(6), id(1), 0x413, "a nl"),
        resource(id(6), id(1), 0x409, "a en"),
        resource(id(6), named(u"ZED"), 0, "z"),
        resource(named(u"TYPEB"), id(5), 0, "tb"),
        resource(named(u"TYPEA"), named(u"NAME"), 0, "ta"),
    };
    const uint32_t rva = nextSectionAddress(parsePe(roomyStub())); // where stubWithTree puts it
    std::vector<uint8_t> tree = writeResourceTree(given, rva);
    // Root: two named entries, then two numbered ones.
    EXPECT_EQ(readLe16(&tree[12]), 2u);
    EXPECT_EQ(readLe16(&tree[14]), 2u);
    std::vector<Resource> back = readResources(stubWithTree(tree));
    EXPECT_EQ(listing(back), "'TYPEA'/'NAME'/0: 2 bytes\n"
                             "'TYPEB'/5/0: 2 bytes\n"
                             "6/'ZED'/0: 1 bytes\n"
                             "6/1/1033: 4 bytes\n"
                             "6/1/1043: 4 bytes\n"
                             "6/2/1043: 1 bytes\n"
                             "24/1/1043: 1 bytes\n");
    // The data entries hold RVAs: the same tree placed for another address points outside the image.
    EXPECT_NE(refusal([&] { readResources(stubWithTree(writeResourceTree(given, rva + 0x10000))); })
                  .find("data lies outside the sections"),
              std::string::npos);

    given.push_back(resource(id(6), id(1), 0x409, "twice"));
    EXPECT_NE(refusal([&] { writeResourceTree(given, rva); }).find("share type, name and language"), std::string::npos);
}

TEST(PeResources, NewSectionKeepsThePeValid)
{
    const std::vector<uint8_t> stub = roomyStub();
    const PeLayout before = parsePe(stub);
    const std::vector<uint8_t> f = withResourceSection(stub, stubResources());
    const PeLayout after = parsePe(f);

    ASSERT_EQ(after.numberOfSections, before.numberOfSections + 1);
    const PeSection& s = after.sections.back();
    EXPECT_EQ(s.name, ".rsrc2");
    EXPECT_EQ(s.virtualAddress, nextSectionAddress(before));
    EXPECT_EQ(s.pointerToRawData, alignUp((uint32_t)stub.size(), 0x200));
    EXPECT_EQ(s.sizeOfRawData % 0x200, 0u);
    EXPECT_EQ(f.size(), (size_t)s.pointerToRawData + s.sizeOfRawData);
    EXPECT_EQ(after.sizeOfImage, alignUp(s.virtualAddress + s.sizeOfRawData, 0x1000));
    EXPECT_EQ(le32(f, OPTIONAL_HEADER + 8), le32(stub, OPTIONAL_HEADER + 8) + s.sizeOfRawData); // initialised data
    EXPECT_EQ(le32(f, RESOURCE_DIRECTORY), s.virtualAddress);
    EXPECT_LE(le32(f, RESOURCE_DIRECTORY + 4), s.sizeOfRawData);
    EXPECT_EQ(le32(f, after.checksumOffset), peChecksum(f.data(), f.size(), after.checksumOffset));
    // Every byte of the stub's sections stays where it was.
    const uint32_t firstRaw = 0x400;
    EXPECT_TRUE(std::equal(stub.begin() + firstRaw, stub.end(), f.begin() + firstRaw));
    EXPECT_EQ(sortedListing(readResources(f)), sortedListing(stubResources()));

    // The archive's section follows as the last one; the stub's start-up checks pass.
    SfxSettings settings;
    std::vector<uint8_t> sfx = buildSelfExtractor(f, oneFileArchive(), settings);
    const PeLayout built = parsePe(sfx);
    ASSERT_EQ(built.numberOfSections, after.numberOfSections + 1);
    EXPECT_EQ(built.sections[built.numberOfSections - 2].name, ".rsrc2");
    EXPECT_EQ(built.sections.back().name, "_arklet_");
    EXPECT_EQ(inspectSelfExtractor(sfx).failures, "");
    EXPECT_EQ(sortedListing(readResources(sfx)), sortedListing(stubResources()));
}

// Damage to a one-resource tree: root table at 0 (entry at 16), type table at 24 (entry at 40),
// language table at 48 (entry at 64), data entry at 72, data at 88.
TEST(PeResources, RefusesDamagedTrees)
{
    const uint32_t rva = nextSectionAddress(parsePe(roomyStub()));
    const std::vector<uint8_t> good = writeResourceTree({resource(id(10), id(1), 0x413, "x")}, rva);
    ASSERT_EQ(readResources(stubWithTree(good)).size(), 1u);
    ASSERT_EQ(le32(good, 72), rva + 88);

    const struct {
        const char* label;
        uint32_t at;
        uint32_t value;
        bool word;
        const char* message;
    } cases[] = {
        {"root counts 65535 entries", 14, 0xFFFF, true, "entries run past its end"},
        {"type table beyond the directory", 20, 0x80001000, false, "directory table lies outside it"},
        {"type level points at a data entry", 20, 72, false, "wrong level"},
        {"language level points back at the root", 68, 0x80000000, false, "wrong level"},
        {"name string beyond the directory", 16, 0x80005000, false, "name string lies outside it"},
        {"language named by a string", 64, 0x80000000 | 14, false, "language is named by a string"}, // 1 unit
        {"data entry beyond the directory", 68, 0x1000, false, "data entry lies outside it"},
        {"data at an RVA no section holds", 72, 0x7FFF0000, false, "data lies outside the sections"},
        {"data longer than its section", 76, 0x10000, false, "data lies outside the sections"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> tree = good;
        if (c.word)
            put16(tree, c.at, c.value);
        else
            put32(tree, c.at, c.value);
        std::vector<uint8_t> f = stubWithTree(tree);
        std::string what = refusal([&] { readResources(f); });
        EXPECT_NE(what.find(c.message), std::string::npos) << c.label << ": " << what;
        EXPECT_EQ(what.rfind("stub's resource directory is damaged", 0), 0u) << c.label << ": " << what;
    }

    // The directory's own size: too small for a table, or reaching past its section.
    EXPECT_NE(refusal([&] { readResources(stubWithTree(good, 8)); }).find("smaller than"), std::string::npos);
    EXPECT_NE(refusal([&] { readResources(stubWithTree(good, 0x10000)); }).find("outside the sections"),
              std::string::npos);

    // Shared subtrees: 100 types share one name table of 100 names, each with one language.
    std::vector<uint8_t> shared(16 + 800 + 16 + 800 + 16 + 8 + 16 + 8, 0);
    const uint32_t nameTable = 816, languageTable = 1632, dataEntry = 1656;
    put16(shared, 14, 100);
    put16(shared, nameTable + 14, 100);
    for (uint32_t i = 0; i < 100; i++) {
        put32(shared, 16 + 8 * i, i + 1);                                  // type id
        put32(shared, 16 + 8 * i + 4, 0x80000000 | nameTable);            // its names
        put32(shared, nameTable + 16 + 8 * i, i + 1);                      // name id
        put32(shared, nameTable + 16 + 8 * i + 4, 0x80000000 | languageTable);
    }
    put16(shared, languageTable + 14, 1);
    put32(shared, languageTable + 16, 0x413);
    put32(shared, languageTable + 20, dataEntry);
    put32(shared, dataEntry, rva + dataEntry + 16);                        // data: the last 8 bytes
    put32(shared, dataEntry + 4, 8);
    EXPECT_NE(refusal([&] { readResources(stubWithTree(shared)); }).find("more than 4096 resources"),
              std::string::npos);
}

// ---- Icons ----

TEST(IconFile, ReplacesTheStubsIconGroupAndItsImagesOnly)
{
    const std::vector<uint8_t> ico = icon_fixture::makeIcon({{16, 0xFF0000FF}, {32, 0xFFFF0000}, {48, 0xFF00FF00}});
    StubCustomisation custom;
    custom.icon = parseIconFile(ico);
    ASSERT_EQ(custom.icon.size(), 3u);
    std::vector<Resource> after = readResources(customiseStub(stubWithResources(), custom));

    // Images 1 and 2 of the old group are gone; image 3 (of group 2) stays and keeps its id, so the new
    // images take 1, 2 and 4.
    const uint16_t newIds[3] = {1, 2, 4};
    const Resource* kept = find(after, RES_TYPE_ICON, 3);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->data, bytes("img3"));
    const Resource* group = find(after, RES_TYPE_GROUP_ICON, 1);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->language, 0x413);
    ASSERT_EQ(group->data.size(), 6u + 3 * 14);
    EXPECT_EQ(readLe16(&group->data[2]), 1u);
    EXPECT_EQ(readLe16(&group->data[4]), 3u);
    for (uint32_t i = 0; i < 3; i++) {
        const uint8_t* entry = &group->data[6 + 14 * i];
        EXPECT_EQ(memcmp(entry, &ico[6 + 16 * i], 12), 0) << "entry " << i;
        EXPECT_EQ(readLe16(entry + 12), newIds[i]) << "entry " << i;
        const Resource* image = find(after, RES_TYPE_ICON, newIds[i]);
        ASSERT_NE(image, nullptr) << newIds[i];
        EXPECT_EQ(image->data, custom.icon[i].data);
        EXPECT_EQ(image->language, 0x413);
    }
    // Everything else is the stub's own.
    for (const Resource& r : stubResources()) {
        if (r.type.isNumber(RES_TYPE_ICON) || (r.type.isNumber(RES_TYPE_GROUP_ICON) && r.name.isNumber(1)))
            continue;
        bool same = false;
        for (const Resource& a : after)
            same = same || (a.type == r.type && a.name == r.name && a.language == r.language && a.data == r.data);
        EXPECT_TRUE(same) << describe(r.type) << "/" << describe(r.name) << "/" << r.language;
    }
    EXPECT_EQ(after.size(), stubResources().size() + 1); // three new images for two old ones
}

TEST(IconFile, RefusesWhatIsNoUsableIcon)
{
    const std::vector<uint8_t> good = icon_fixture::makeIcon({{16, 0xFF0000FF}});
    const uint32_t imageSize = (uint32_t)(good.size() - 22);
    auto with = [&](std::initializer_list<std::pair<size_t, uint32_t>> changes32, size_t keep = 0) {
        std::vector<uint8_t> f = good;
        for (auto c : changes32)
            put32(f, c.first, c.second);
        if (keep)
            f.resize(keep);
        return f;
    };
    std::vector<uint8_t> cursor = good;
    put16(cursor, 2, 2);
    std::vector<uint8_t> none = good;
    put16(none, 4, 0);
    std::vector<uint8_t> many = good;
    put16(many, 4, 65);
    many.resize(6 + 65 * 16 + 100, 0);
    std::vector<uint8_t> shortDirectory = good;
    put16(shortDirectory, 4, 3);                 // three entries, but room for little more than one
    shortDirectory.resize(6 + 16 * 2 + 8);
    // 64 directory entries naming one image: the image would be stored 64 times.
    std::vector<uint8_t> multiplied = icon_fixture::makeIcon(std::vector<icon_fixture::Image>(64, {16, 0xFF0000FF}));
    for (size_t i = 1; i < 64; i++)
        std::copy(multiplied.begin() + 6 + 8, multiplied.begin() + 6 + 16, multiplied.begin() + 6 + 16 * i + 8);
    std::vector<uint8_t> overlapping = icon_fixture::makeIcon({{16, 0xFF0000FF}, {16, 0xFF00FF00}});
    put32(overlapping, 6 + 8, readLe32(&overlapping[6 + 8]) + 1); // image 1 takes image 2's first byte
    std::vector<uint8_t> large = good;
    large.resize(ICON_MAX_FILE_BYTES + 1, 0);
    std::vector<uint8_t> largest = good;
    largest.resize(ICON_MAX_FILE_BYTES, 0);
    EXPECT_EQ(parseIconFile(largest).size(), 1u);
    std::vector<uint8_t> notImage = good;
    put32(notImage, 22, 0x12345678);             // where biSize (40) should be
    std::vector<uint8_t> png = good;             // a PNG image is taken as it is
    const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::copy(pngSignature, pngSignature + 8, png.begin() + 22);
    EXPECT_EQ(parseIconFile(png).size(), 1u);

    const struct {
        const char* label;
        std::vector<uint8_t> file;
        const char* message;
    } cases[] = {
        {"empty file", {}, "too short"},
        {"five bytes", {0, 0, 1, 0, 1}, "too short"},
        {"a cursor", cursor, "a cursor file"},
        {"a PNG file", std::vector<uint8_t>(pngSignature, pngSignature + 8), "no icon directory"},
        {"reserved field set", with({{0, 0x00010001}}), "no icon directory"},
        {"no images", none, "holds no images"},
        {"65 images", many, "counts 65 images"},
        {"directory cut short", shortDirectory, "truncated"},
        {"image of 0 bytes", with({{14, 0}}), "is empty"},
        {"image inside the directory", with({{18, 6}}), "overlaps the icon directory"},
        {"image one byte past the end", with({{14, imageSize + 1}}), "runs past the end"},
        {"file cut inside the image", with({}, good.size() - 1), "runs past the end"},
        {"size that wraps around", with({{14, 0xFFFFFFF0}}), "runs past the end"},
        {"offset far past the end", with({{18, 0x7FFFFFFF}}), "runs past the end"},
        {"neither bitmap nor PNG", notImage, "neither a bitmap nor a PNG"},
        {"64 entries naming one image", multiplied, "icon images 1 and 2 share bytes of the file"},
        {"an image one byte into the next", overlapping, "icon images 1 and 2 share bytes of the file"},
        {"a file over 16 MiB", large, "the icon file is larger than 16 MiB"},
    };
    for (const auto& c : cases) {
        std::string what = refusal([&] { parseIconFile(c.file); });
        EXPECT_NE(what.find(c.message), std::string::npos) << c.label << ": " << what;
    }
}

// ---- Version resource ----

TEST(VersionInfo, ResourceHoldsTheFixedNumbersStringsAndTranslation)
{
    const struct {
        const char* text;
        uint16_t file[4];
        uint16_t product[4];
        std::vector<std::pair<std::string, std::string>> strings;
    } cases[] = {
        {"ProductName=Voorbeeld;FileVersion=1.2.3.4;CompanyName=Arklet B.V.;FileDescription=Installatie",
         {1, 2, 3, 4}, {1, 2, 3, 4},
         {{"ProductName", "Voorbeeld"}, {"FileVersion", "1.2.3.4"}, {"CompanyName", "Arklet B.V."},
          {"FileDescription", "Installatie"}, {"ProductVersion", "1.2.3.4"}}},
        // Keys in any case, blanks around items, a trailing ';', short versions, UTF-8 text.
        {" fileversion = 7.1 ; PRODUCTVERSION=65535.0.0.9;LegalCopyright=\xC2\xA9 2024 caf\xC3\xA9;", {7, 1, 0, 0},
         {65535, 0, 0, 9},
         {{"FileVersion", "7.1"}, {"ProductVersion", "65535.0.0.9"}, {"LegalCopyright", "\xC2\xA9 2024 caf\xC3\xA9"}}},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> data = versionResource(parseVersionInfo(c.text));
        VersionNode root = readVersionNode(data, 0, data.size(), false);
        EXPECT_EQ(readLe16(&data[0]), data.size()) << c.text;
        EXPECT_EQ(root.key, u"VS_VERSION_INFO");
        ASSERT_EQ(root.value.size(), 52u);
        EXPECT_EQ(readLe32(&root.value[0]), 0xFEEF04BDu);
        EXPECT_EQ(readLe32(&root.value[8]), (uint32_t)c.file[0] << 16 | c.file[1]) << c.text;
        EXPECT_EQ(readLe32(&root.value[12]), (uint32_t)c.file[2] << 16 | c.file[3]) << c.text;
        EXPECT_EQ(readLe32(&root.value[16]), (uint32_t)c.product[0] << 16 | c.product[1]) << c.text;
        EXPECT_EQ(readLe32(&root.value[20]), (uint32_t)c.product[2] << 16 | c.product[3]) << c.text;
        EXPECT_EQ(readLe32(&root.value[36]), 1u); // VFT_APP
        ASSERT_EQ(root.children.size(), 2u);
        const VersionNode& strings = root.children[0];
        EXPECT_EQ(strings.key, u"StringFileInfo");
        ASSERT_EQ(strings.children.size(), 1u);
        EXPECT_EQ(strings.children[0].key, u"041304B0");
        const std::vector<VersionNode>& items = strings.children[0].children;
        ASSERT_EQ(items.size(), c.strings.size()) << c.text;
        for (size_t i = 0; i < items.size(); i++) {
            EXPECT_EQ(utf16ToUtf8(items[i].key), c.strings[i].first);
            EXPECT_EQ(utf16ToUtf8(textOf(items[i])), c.strings[i].second);
            EXPECT_EQ(items[i].valueLength, textOf(items[i]).size() + 1); // units with the terminator
            EXPECT_EQ(items[i].type, 1u);
        }
        const VersionNode& vars = root.children[1];
        EXPECT_EQ(vars.key, u"VarFileInfo");
        ASSERT_EQ(vars.children.size(), 1u);
        EXPECT_EQ(vars.children[0].key, u"Translation");
        ASSERT_EQ(vars.children[0].value.size(), 4u);
        EXPECT_EQ(readLe16(&vars.children[0].value[0]), 0x0413u);
        EXPECT_EQ(readLe16(&vars.children[0].value[2]), 0x04B0u);
    }
}

TEST(VersionInfo, RefusesMalformedTextAsAUsageError)
{
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {"", "empty item"},
        {";", "empty item"},
        {"FileVersion=1;;ProductName=x", "empty item"},
        {"FileVersion", "is not Key=Text"},
        {"FileVersion=", "an empty text"},
        {"FileVersion=1;Colour=blue", "does not know the key \"Colour\""},
        {"ProductName=Voorbeeld", "needs FileVersion"},
        {"FileVersion=1;fileversion=2", "gives FileVersion twice"},
        {"FileVersion=1.2.3.4.5", "is not 1 to 4 numbers"},
        {"FileVersion=1..2", "is not 1 to 4 numbers"},
        {"FileVersion=1.x", "is not 1 to 4 numbers"},
        {"FileVersion=65536", "is not 1 to 4 numbers"},
        {"FileVersion=-1", "is not 1 to 4 numbers"},
        {"FileVersion=1;ProductVersion=beta", "ProductVersion \"beta\" is not"},
        {"FileVersion=1;Comments=a\tb", "control character"},
        {"FileVersion=1;Comments=\xFF", "not valid UTF-8"},
        {"FileVersion=1;Comments=" + std::string(1025, 'c'), "longer than 1024"},
    };
    for (const auto& c : cases) {
        try {
            parseVersionInfo(c.text);
            ADD_FAILURE() << c.text << ": accepted";
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.text << ": " << e.what();
        }
    }
    // Every key at its longest fits a version resource; texts past its 65,535 bytes are refused.
    std::string longest = "FileVersion=1;ProductVersion=2";
    for (const char* key : {"Comments", "CompanyName", "FileDescription", "InternalName", "LegalCopyright",
                            "LegalTrademarks", "OriginalFilename", "PrivateBuild", "ProductName", "SpecialBuild"})
        longest += std::string(";") + key + "=" + std::string(1024, 'v');
    EXPECT_LT(versionResource(parseVersionInfo(longest)).size(), 65536u);
    VersionInfo tooBig;
    for (int i = 0; i < 32; i++)
        tooBig.strings.emplace_back(u"Comments", std::u16string(1024, u'v'));
    EXPECT_THROW(versionResource(tooBig), UsageError);
}

// ---- Manifest ----

TEST(Manifest, AdminSetsTheLevelAndNothingElse)
{
    const struct {
        std::string before;
        std::string after; // empty: refused
    } cases[] = {
        {"<a><requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/></a>",
         "<a><requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/></a>"},
        {"<requestedExecutionLevel uiAccess='false' level='highestAvailable'/>",
         "<requestedExecutionLevel uiAccess='false' level='requireAdministrator'/>"},
        {"<requestedExecutionLevel level=\"requireAdministrator\"/>", "<requestedExecutionLevel level=\"requireAdministrator\"/>"},
        {"<assembly/>", ""},
        {"<requestedExecutionLevel uiAccess=\"false\"/> level=\"x\"", ""},
        {"<requestedExecutionLevel level=asInvoker/>", ""},
        {"<requestedExecutionLevel level=\"asInvoker/>", ""},
        {"<requestedExecutionLevel level=\"a\"/><requestedExecutionLevel level=\"b\"/>", ""},
    };
    for (const auto& c : cases) {
        std::string got;
        try {
            std::vector<uint8_t> out = manifestRequiringAdministrator(bytes(c.before));
            got.assign(out.begin(), out.end());
        } catch (const BuildError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("stub's manifest", 0), 0u) << e.what();
        }
        EXPECT_EQ(got, c.after) << c.before;
    }
}

// ---- The whole stub ----

TEST(StubCustomisation, AddsVersionAndAdminManifestAndRefusesWhatCannotBeDone)
{
    StubCustomisation custom;
    custom.hasVersion = true;
    custom.version = parseVersionInfo("FileVersion=2.0;ProductName=Voorbeeld");
    custom.administrator = true;
    std::vector<Resource> after = readResources(customiseStub(stubWithResources(), custom));
    const Resource* version = find(after, RES_TYPE_VERSION, 1);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->language, 0x413);
    EXPECT_EQ(version->data, versionResource(custom.version));
    const Resource* manifest = find(after, RES_TYPE_MANIFEST, 1);
    ASSERT_NE(manifest, nullptr);
    std::string text(manifest->data.begin(), manifest->data.end());
    EXPECT_NE(text.find("level=\"requireAdministrator\" uiAccess=\"false\""), std::string::npos) << text;
    EXPECT_EQ(after.size(), stubResources().size() + 1);

    // A stub without a manifest cannot ask for administrator rights; one without resources still gets
    // an icon.
    StubCustomisation admin;
    admin.administrator = true;
    EXPECT_NE(refusal([&] { customiseStub(roomyStub(), admin); }).find("stub has no manifest"), std::string::npos);
    StubCustomisation icon;
    icon.icon = parseIconFile(icon_fixture::makeIcon({{16, 0xFF0000FF}}));
    EXPECT_EQ(listing(readResources(customiseStub(roomyStub(), icon))), "3/1/1043: "
              + std::to_string(icon.icon[0].data.size()) + " bytes\n14/1/1043: 20 bytes\n");

    // An icon whose pixels spell the parameter block's signature would make the block ambiguous.
    std::vector<uint8_t> ico = icon_fixture::makeIcon({{16, 0}});
    const char signature[] = "QVR\x01sfx\x02";
    std::copy(signature, signature + 8, ico.begin() + 22 + 40);
    StubCustomisation spelled;
    spelled.icon = parseIconFile(ico);
    EXPECT_EQ(refusal([&] { customiseStub(stubWithResources(), spelled); }),
              "the icon or the version texts hold the bytes of the stub's parameter block signature");
}

// The independent tools: wrestool finds the icon group (and gives back the very icon file) and the
// version resource of a finished file; osslsigncode signs it and accepts the signature, and the stub's
// header CRC still checks out.
TEST(StubCustomisation, WrestoolAndOsslsigncodeAcceptTheFinishedFile)
{
    if (!haveTool("wrestool") || !haveTool("osslsigncode") || !haveTool("openssl"))
        GTEST_SKIP() << "wrestool (icoutils), osslsigncode or openssl missing";
    TempDir dir;
    fs::path log = dir / "tools.log";
    const std::vector<uint8_t> ico = icon_fixture::makeIcon({{16, 0xFF0000FF}, {32, 0xFF00FF00}});
    StubCustomisation custom;
    custom.icon = parseIconFile(ico);
    custom.hasVersion = true;
    custom.version = parseVersionInfo("ProductName=Voorbeeld;FileVersion=1.2.3.4");
    custom.administrator = true;
    writeFile(dir / "setup.exe", buildSelfExtractor(customiseStub(stubWithResources(), custom), oneFileArchive(),
                                                    SfxSettings()));
    const std::string exe = (dir / "setup.exe").string();

    ASSERT_EQ(run("wrestool -l '" + exe + "' | tee '" + (dir / "list.txt").string() + "'", log), 0) << logText(log);
    std::string list = logText(dir / "list.txt");
    for (const char* wanted : {"--type=14 --name=1 --language=1043", "--type=16 --name=1 --language=1043",
                               "--type=3 --name=3 --language=1043", "--type=24 --name=1 --language=1043"})
        EXPECT_NE(list.find(wanted), std::string::npos) << wanted << "\n" << list;
    ASSERT_EQ(run("wrestool -x --type=14 --name=1 -o '" + (dir / "back.ico").string() + "' '" + exe + "'", log), 0)
        << logText(log);
    // wrestool rebuilds the .ico file from the group and its images (and pads it with zeros).
    std::vector<uint8_t> back = readFile(dir / "back.ico");
    ASSERT_GE(back.size(), ico.size());
    EXPECT_TRUE(std::equal(ico.begin(), ico.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + ico.size(), back.end(), [](uint8_t b) { return b == 0; }));

    ASSERT_EQ(run("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=test -days 2 -keyout '"
                      + (dir / "k.pem").string() + "' -out '" + (dir / "c.pem").string() + "'", log), 0)
        << logText(log);
    ASSERT_EQ(run("osslsigncode sign -certs '" + (dir / "c.pem").string() + "' -key '" + (dir / "k.pem").string()
                      + "' -n test -in '" + exe + "' -out '" + (dir / "signed.exe").string() + "'", log), 0)
        << logText(log);
    fs::path verify = dir / "verify.log";
    EXPECT_EQ(run("osslsigncode verify -CAfile '" + (dir / "c.pem").string() + "' -in '"
                      + (dir / "signed.exe").string() + "'", verify), 0)
        << logText(verify);
    EXPECT_NE(logText(verify).find("Signature verification: ok"), std::string::npos) << logText(verify);
    std::vector<uint8_t> signedFile = readFile(dir / "signed.exe");
    EXPECT_EQ(inspectSelfExtractor(signedFile).failures, "");
    EXPECT_EQ(listing(readResources(signedFile)), listing(readResources(readFile(dir / "setup.exe"))));
}
