// CRC-32 of ZIP (reflected polynomial 0xEDB88320), shared by the header check, the entry check and the
// key schedule of the traditional cipher.
//
// The register is used raw: callers start it at 0xFFFFFFFF and take the ones' complement at the end.
#ifndef AKSFX_CRC32_H
#define AKSFX_CRC32_H

#include <stddef.h>
#include <stdint.h>

extern uint32_t crcTable[256];

// Fills crcTable; must run before any other function here (and before the cipher's key updates).
void buildCrcTable();

// Runs the register over n bytes, byte by byte in the table-driven way; returns the new register.
uint32_t crcRegisterUpdate(uint32_t reg, const uint8_t* data, size_t n);

// CRC-32 of a whole buffer (register start 0xFFFFFFFF, complemented result).
inline uint32_t crc32Of(const uint8_t* data, size_t n)
{
    return ~crcRegisterUpdate(0xFFFFFFFFu, data, n);
}

#endif
