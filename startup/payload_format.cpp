#include "payload_format.h"

#include <string.h>

#include "../decode/crc32.h"

long findBlockSignature(const uint8_t* data, uint32_t length, const uint8_t signature[8])
{
    if (length < 8)
        return -1;
    for (uint32_t p = 0; p <= length - 8; p++)
        if (data[p] == signature[0] && memcmp(data + p, signature, 8) == 0)
            return (long)p;
    return -1;
}

bool computeHeaderCrc(const uint8_t* data, uint32_t length, const uint8_t signature[8], bool afterHeaders,
                      uint32_t* crcOut)
{
    long p = findBlockSignature(data, length, signature);
    // The whole block must lie inside the checked prefix; a signature in the last bytes is damage, and
    // zeroing its CRC field would run past the buffer.
    if (p < 0 || (uint32_t)p + sizeof(StubParameterBlock) > length)
        return false;
    uint32_t start = 0;
    if (afterHeaders) {
        if (length < PE_NEW_HEADER_FIELD + 4)
            return false;
        uint32_t peOffset = readLe32(data + PE_NEW_HEADER_FIELD);
        if (peOffset > length || length - peOffset < PE_NT_HEADERS_SIZE)
            return false;
        start = peOffset + PE_NT_HEADERS_SIZE;
    }
    // The range is run in three pieces so that the stored CRC counts as four zero bytes.
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    uint32_t crcField = (uint32_t)p + 8;
    uint32_t reg = 0xFFFFFFFFu;
    if (crcField + 4 <= start) {
        reg = crcRegisterUpdate(reg, data + start, length - start);
    } else if (crcField >= start) {
        reg = crcRegisterUpdate(reg, data + start, crcField - start);
        reg = crcRegisterUpdate(reg, zeros, 4);
        reg = crcRegisterUpdate(reg, data + crcField + 4, length - crcField - 4);
    } else {
        // The range starts inside the CRC field itself.
        uint32_t skip = start - crcField;
        reg = crcRegisterUpdate(reg, zeros, 4 - skip);
        reg = crcRegisterUpdate(reg, data + crcField + 4, length - crcField - 4);
    }
    *crcOut = ~reg;
    return true;
}

// Copies one terminated UTF-16LE text starting at unit *pos into dest (capacity units, terminator
// included; dest may be null to pass the text over). Fails when no terminator comes before the end or
// the text does not fit.
static bool takeText(const uint8_t* data, uint32_t units, uint32_t* pos, wchar_t* dest, uint32_t capacity)
{
    uint32_t n = 0;
    for (;;) {
        if (*pos >= units)
            return false;
        uint16_t c = readLe16(data + 2 * *pos);
        (*pos)++;
        if (c == 0)
            break;
        if (dest) {
            if (n + 1 >= capacity)
                return false;
            dest[n] = (wchar_t)c;
        }
        n++;
    }
    if (dest)
        dest[n] = 0;
    return true;
}

// Text 2, which only files that start a program after extraction use: a text too long for its buffer is
// passed over (it is then empty), not damage, since files made without that option never read it.
static bool takeRunCommand(const uint8_t* data, uint32_t units, uint32_t* pos, SfxTexts* out)
{
    uint32_t start = *pos;
    if (takeText(data, units, pos, out->runCommand, RUN_COMMAND_UNITS))
        return true;
    *pos = start;
    out->runCommand[0] = 0;
    return takeText(data, units, pos, nullptr, 0);
}

bool parseSfxHeader(const uint8_t* data, uint32_t length, bool hasCaption, SfxTexts* out)
{
    memset(out, 0, sizeof *out);
    if (length > SFX_HEADER_MAX_BYTES)
        return false;
    uint32_t units = length / 2;
    uint32_t pos = 0;
    wchar_t caption[CAPTION_UNITS];
    bool ok = takeText(data, units, &pos, out->targetFolder, PATH_UNITS) && takeRunCommand(data, units, &pos, out)
              && takeText(data, units, &pos, out->startupText, STARTUP_TEXT_UNITS)
              && takeText(data, units, &pos, caption, CAPTION_UNITS)
              && takeText(data, units, &pos, out->infoText, INFO_TEXT_UNITS);
    if (!ok) {
        memset(out, 0, sizeof *out);
        return false;
    }
    if (hasCaption)
        memcpy(out->caption, caption, sizeof caption);
    return true;
}
