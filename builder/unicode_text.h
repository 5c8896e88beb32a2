// Text conversions of the building tool: UTF-8 (command line, ZIP names with flag bit 11) to UTF-16
// (the SfxHeader, the stub's name buffers), and code page 437 (ZIP names without bit 11).
#ifndef AKSFX_UNICODE_TEXT_H
#define AKSFX_UNICODE_TEXT_H

#include <stdint.h>
#include <string>

// Decodes UTF-8 into UTF-16 units (characters above U+FFFF become surrogate pairs). Returns false for
// malformed input: bad lead or continuation bytes, overlong forms, surrogates, values above U+10FFFF.
bool utf8ToUtf16(const std::string& text, std::u16string* out);

// Encodes UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(const std::u16string& text);

// Decodes code page 437 bytes (every byte is one character of the Basic Multilingual Plane).
std::u16string cp437ToUtf16(const std::string& bytes);

// Text from a file (an entry name) in double quotes for a one-line message: control characters (C0,
// DEL, C1) and the line and paragraph separators become \xNN or \uNNNN, as does every byte of text
// that is not valid UTF-8 from 0x80 up; more than 300 characters (longer than any name the stub takes)
// are cut to 300 and "...".
std::string quotedForMessage(const std::string& text);

// True when every byte is below 0x80.
bool isAscii(const std::string& text);

#endif
