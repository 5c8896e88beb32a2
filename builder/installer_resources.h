// What --icon, --version-info and --admin change in the stub before the archive is joined to it: its icon
// group, a version resource, and the execution level its manifest asks for. The stub's own resources
// (texts, dialogs) are carried over unchanged into a new resource section (see pe_resources.h).
//
// Format notes:
// - An .ico file: ICONDIR (u16 reserved 0, u16 type 1 = icon (2 = cursor), u16 count), then count
//   16-byte ICONDIRENTRYs (u8 width, height, colour count, reserved; u16 planes, bit count; u32 bytes of
//   the image, u32 file offset of the image). An image is a BITMAPINFOHEADER (u32 size 40 first) with
//   its colour and mask bits, or a PNG file (8-byte signature 89 'PNG' 0D 0A 1A 0A).
// - In a PE file each image is an RT_ICON resource of its own; the RT_GROUP_ICON resource holds the
//   same 6-byte header and one 14-byte entry per image: the first 12 bytes of its ICONDIRENTRY, then the
//   u16 id of its RT_ICON resource instead of the file offset. Explorer shows the first group.
// - A version resource (RT_VERSION 1) is a tree of nodes, each: u16 wLength (the node with its
//   children), u16 wValueLength (in bytes for binary values, in UTF-16 units with the terminator for
//   text), u16 wType (1 text, 0 binary), the key in UTF-16 with a terminator, zero padding to a 4-byte
//   boundary, the value, then the children, each starting on a 4-byte boundary. The root
//   "VS_VERSION_INFO" holds a 52-byte VS_FIXEDFILEINFO (signature 0xFEEF04BD, structure version
//   0x00010000, file version MS/LS, product version MS/LS, flags mask, flags, OS, type, subtype, date
//   MS/LS); its children are "StringFileInfo" with one table per language and code page ("041304B0":
//   Dutch, UTF-16) of key/text nodes, and "VarFileInfo" with "Translation", a list of (language, code
//   page) u16 pairs.
// - The manifest (RT_MANIFEST 1) is UTF-8 XML; its requestedExecutionLevel element's level attribute
//   is asInvoker or requireAdministrator.
#ifndef AKSFX_INSTALLER_RESOURCES_H
#define AKSFX_INSTALLER_RESOURCES_H

#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

enum : uint32_t {
    ICON_MAX_IMAGES = 64,
    // An icon file of every image size at 32 bits takes about 1 MiB; a 256-pixel image as a bitmap 270 KB.
    ICON_MAX_FILE_BYTES = 16u << 20,
    VERSION_LANGUAGE = 0x0413,  // Dutch (Netherlands), the stub's language
    VERSION_CODE_PAGE = 0x04B0, // UTF-16
    VERSION_VALUE_MAX_UNITS = 1024,
};

struct IconImage {
    uint8_t entry[12]; // width, height, colour count, reserved, planes, bit count, bytes in image
    std::vector<uint8_t> data;
};

// The images of an .ico file. Throws BuildError naming what is wrong: not an icon file, larger than
// ICON_MAX_FILE_BYTES, no images, more than ICON_MAX_IMAGES, a directory or an image that runs past the
// end of the file or overlaps the directory, two directory entries whose images share bytes (each image
// becomes a resource of its own: an image named by every entry would be stored 64 times), an image that
// is neither a bitmap nor a PNG. The images together are therefore never larger than the file.
std::vector<IconImage> parseIconFile(const std::vector<uint8_t>& file);

struct VersionInfo {
    uint16_t fileVersion[4] = {0, 0, 0, 0};
    uint16_t productVersion[4] = {0, 0, 0, 0};
    std::vector<std::pair<std::u16string, std::u16string>> strings; // key, text; in the order given
};

// Parses "Key=Text;Key=Text;...": the keys of a version resource's string table (ProductName,
// FileVersion, CompanyName, FileDescription, ...; any letter case), blanks around keys and texts
// dropped, a text without ';' and control characters, a trailing ';' allowed. FileVersion is required
// and gives the fixed file version (1 to 4 numbers 0-65535 separated by dots, missing ones 0);
// ProductVersion, in the same form, defaults to it. Throws UsageError with one line.
VersionInfo parseVersionInfo(const std::string& text);

// The RT_VERSION resource's bytes. Throws UsageError when the texts make it larger than 65,535 bytes.
std::vector<uint8_t> versionResource(const VersionInfo& info);

// The manifest with its requestedExecutionLevel's level set to requireAdministrator. Throws BuildError
// when it does not hold exactly one such element with a quoted level.
std::vector<uint8_t> manifestRequiringAdministrator(const std::vector<uint8_t>& manifest);

struct StubCustomisation {
    std::vector<IconImage> icon; // replaces icon group 1 and its images; empty: the stub's icon stays
    bool hasVersion = false;
    VersionInfo version;
    bool administrator = false;  // --admin

    bool any() const { return !icon.empty() || hasVersion || administrator; }
};

// The stub with a new resource section holding its resources as changed. Throws BuildError for a stub
// whose resources cannot be read or changed, and when the new resources would hold the parameter
// block's signature (the stub's block must stay the only place it occurs).
std::vector<uint8_t> customiseStub(const std::vector<uint8_t>& stub, const StubCustomisation& customisation);

#endif
