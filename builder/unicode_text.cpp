#include "unicode_text.h"

#include <stdio.h>

bool utf8ToUtf16(const std::string& text, std::u16string* out)
{
    out->clear();
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        uint32_t c = (uint8_t)text[i];
        uint32_t extra;
        uint32_t minimum;
        if (c < 0x80) {
            extra = 0;
            minimum = 0;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            minimum = 0x80;
            c &= 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            minimum = 0x800;
            c &= 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            minimum = 0x10000;
            c &= 0x07;
        } else {
            return false;
        }
        if (n - i - 1 < extra)
            return false;
        for (uint32_t k = 1; k <= extra; k++) {
            uint8_t b = (uint8_t)text[i + k];
            if ((b & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (b & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            out->push_back((char16_t)(0xD800 + (c >> 10)));
            out->push_back((char16_t)(0xDC00 + (c & 0x3FF)));
        } else {
            out->push_back((char16_t)c);
        }
        i += 1 + extra;
    }
    return true;
}

std::string utf16ToUtf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back((char)c);
        } else if (c < 0x800) {
            out.push_back((char)(0xC0 | (c >> 6)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back((char)(0xE0 | (c >> 12)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else {
            out.push_back((char)(0xF0 | (c >> 18)));
            out.push_back((char)(0x80 | ((c >> 12) & 0x3F)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// The upper half of code page 437 (bytes 0x80 to 0xFF).
static const char16_t cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

std::u16string cp437ToUtf16(const std::string& bytes)
{
    std::u16string out;
    for (char ch : bytes) {
        uint8_t b = (uint8_t)ch;
        out.push_back(b < 0x80 ? (char16_t)b : cp437High[b - 0x80]);
    }
    return out;
}

bool isAscii(const std::string& text)
{
    for (char ch : text)
        if ((uint8_t)ch >= 0x80)
            return false;
    return true;
}

std::string quotedForMessage(const std::string& text)
{
    enum : size_t { SHOWN_CHARACTERS = 300 };
    auto escaped = [](const char* format, uint32_t value) {
        char code[12];
        snprintf(code, sizeof code, format, value);
        return std::string(code);
    };
    std::string out = "\"";
    std::u16string units;
    bool cut;
    if (!utf8ToUtf16(text, &units)) {
        for (size_t i = 0; i < text.size() && i < SHOWN_CHARACTERS; i++) {
            uint8_t c = (uint8_t)text[i];
            out += c < 0x20 || c >= 0x7F ? escaped("\\x%02X", c) : std::string(1, (char)c);
        }
        cut = text.size() > SHOWN_CHARACTERS;
    } else {
        size_t i = 0;
        for (; i < units.size() && i < SHOWN_CHARACTERS; i++) {
            char16_t c = units[i];
            if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
                out += escaped("\\x%02X", c);
            else if (c == 0x2028 || c == 0x2029)
                out += escaped("\\u%04X", c);
            else if (c >= 0xD800 && c <= 0xDBFF) // valid UTF-8 gave a whole pair
                out += utf16ToUtf8(units.substr(i++, 2));
            else
                out += utf16ToUtf8(std::u16string(1, c));
        }
        cut = i < units.size();
    }
    out += cut ? "...\"" : "\"";
    return out;
}
