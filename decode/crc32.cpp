// CRC-32 of ZIP: reflected polynomial 0xEDB88320, register shifted right, one table step per byte:
//   reg = (reg >> 8) ^ crcTable[(reg ^ byte) & 0xFF].
//
// Speed, with results identical to the byte loop:
// - Slicing: table k maps a byte to the register change it causes followed by k zero bytes, so eight bytes
//   fold into the register with eight independent lookups whose XOR equals eight single-byte steps.
// - Lanes: a run of 3 * CRC_LANE_BYTES bytes is split into three lanes whose registers are computed side by
//   side (independent dependency chains), the second and third starting from 0. The register update is
//   linear apart from the data: update(r, A B) = shift(update(r, A)) ^ update(0, B), where shift(r) is the
//   register after CRC_LANE_BYTES zero bytes, a linear map applied with four byte tables (crcShift).
#include "crc32.h"


uint32_t crcTable[256];
enum {
    CRC_SLICES = 8,
    CRC_LANE_BYTES = 680, // three lanes fit one 2048-byte output buffer
};
static_assert(CRC_LANE_BYTES % CRC_SLICES == 0, "lanes are whole slicing steps");
static uint32_t crcSlices[CRC_SLICES][256]; // crcSlices[0] is a copy of crcTable
static uint32_t crcShift[4][256];            // the register after CRC_LANE_BYTES zero bytes, by byte of input

void buildCrcTable()
{
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        crcTable[i] = c;
        crcSlices[0][i] = c;
    }
    for (int k = 1; k < CRC_SLICES; k++)
        for (uint32_t i = 0; i < 256; i++)
            crcSlices[k][i] = (crcSlices[k - 1][i] >> 8) ^ crcTable[crcSlices[k - 1][i] & 0xFF];

    // The shift of each single-bit register, then every byte value by linearity.
    uint32_t basis[32];
    for (int bit = 0; bit < 32; bit++) {
        uint32_t r = 1u << bit;
        for (int i = 0; i < CRC_LANE_BYTES; i++)
            r = (r >> 8) ^ crcTable[r & 0xFF];
        basis[bit] = r;
    }
    for (int k = 0; k < 4; k++) {
        for (uint32_t b = 0; b < 256; b++) {
            uint32_t r = 0;
            for (int bit = 0; bit < 8; bit++)
                if (b & (1u << bit))
                    r ^= basis[8 * k + bit];
            crcShift[k][b] = r;
        }
    }
}

static inline uint32_t loadLittleEndian32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static inline uint32_t foldEight(uint32_t reg, const uint8_t* data)
{
    uint32_t lo = reg ^ loadLittleEndian32(data);
    uint32_t hi = loadLittleEndian32(data + 4);
    return crcSlices[7][lo & 0xFF] ^ crcSlices[6][(lo >> 8) & 0xFF] ^ crcSlices[5][(lo >> 16) & 0xFF] ^
           crcSlices[4][lo >> 24] ^ crcSlices[3][hi & 0xFF] ^ crcSlices[2][(hi >> 8) & 0xFF] ^
           crcSlices[1][(hi >> 16) & 0xFF] ^ crcSlices[0][hi >> 24];
}

static inline uint32_t shiftOverLane(uint32_t reg)
{
    return crcShift[0][reg & 0xFF] ^ crcShift[1][(reg >> 8) & 0xFF] ^ crcShift[2][(reg >> 16) & 0xFF] ^
           crcShift[3][reg >> 24];
}

uint32_t crcRegisterUpdate(uint32_t reg, const uint8_t* data, size_t n)
{
    while (n >= 3 * CRC_LANE_BYTES) {
        uint32_t a = reg, b = 0, c = 0;
        const uint8_t* pa = data;
        const uint8_t* pb = data + CRC_LANE_BYTES;
        const uint8_t* pc = data + 2 * CRC_LANE_BYTES;
        for (int i = 0; i < CRC_LANE_BYTES; i += 8) {
            a = foldEight(a, pa + i);
            b = foldEight(b, pb + i);
            c = foldEight(c, pc + i);
        }
        reg = shiftOverLane(shiftOverLane(a) ^ b) ^ c;
        data += 3 * CRC_LANE_BYTES;
        n -= 3 * CRC_LANE_BYTES;
    }
    while (n >= 8) {
        reg = foldEight(reg, data);
        data += 8;
        n -= 8;
    }
    while (n-- != 0)
        reg = (reg >> 8) ^ crcTable[(reg ^ *data++) & 0xFF];
    return reg;
}
