#include "crc32.h"

uint32_t crcTable[256];

void buildCrcTable()
{
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        crcTable[i] = c;
    }
}

uint32_t crcRegisterUpdate(uint32_t reg, const uint8_t* data, size_t n)
{
    for (size_t i = 0; i < n; i++)
        reg = (reg >> 8) ^ crcTable[(reg ^ data[i]) & 0xFF];
    return reg;
}
