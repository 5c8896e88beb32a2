// What --inspect tells about a file's resources: the icon group Explorer shows, the version resource's
// texts and numbers, and the execution level its manifest asks for. The resources come from the file,
// so they are read as untrusted input: every length is checked against what holds it, and a damaged
// resource gives a line that says so instead of a report.
//
// Format notes (the writer's side is in installer_resources.h):
// - RT_GROUP_ICON: u16 reserved 0, u16 type 1, u16 count, then count 14-byte entries: u8 width,
//   height (0 means 256), colour count, reserved; u16 planes, bit count; u32 bytes; u16 RT_ICON id.
//   An RT_ICON image is a PNG (89 'PNG' 0D 0A 1A 0A) or a BITMAPINFOHEADER, whose u16 biBitCount is at 14.
// - RT_VERSION: nodes of u16 wLength, u16 wValueLength, u16 wType, a UTF-16 key with its terminator,
//   zero padding to a 4-byte boundary, the value (bytes for wType 0, UTF-16 units for wType 1), padding,
//   then child nodes up to wLength. The root "VS_VERSION_INFO" holds VS_FIXEDFILEINFO (u32 signature
//   0xFEEF04BD, structure version, then file version MS, LS and product version MS, LS); its child
//   "StringFileInfo" holds one table per language, each of key/text nodes.
// - RT_MANIFEST: XML whose requestedExecutionLevel element has a level attribute.
#ifndef AKSFX_RESOURCE_REPORT_H
#define AKSFX_RESOURCE_REPORT_H

#include <stdint.h>
#include <string>
#include <vector>

#include "pe_resources.h"

// "icon group 1: 2 images: 16x16 32-bit bitmap, 256x256 32-bit PNG", for the first icon group.
std::string iconGroupLine(const std::vector<Resource>& resources);

// The version resource as lines ("fixed FileVersion 1.2.3.4, ProductVersion 1.2.3.4", then "Key=Text"
// per string), or one line saying it is damaged.
std::vector<std::string> versionLines(const std::vector<uint8_t>& version);

// The level attribute of requestedExecutionLevel ("asInvoker", "requireAdministrator",
// "highestAvailable", or what else it says), or a text in parentheses when there is none.
std::string executionLevel(const std::vector<uint8_t>& manifest);

#endif
