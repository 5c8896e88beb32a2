#include "cipher.h"

#include "crc32.h"

uint32_t key0, key1, key2;

void initKeys(const char* password)
{
    key0 = 0x12345678u;
    key1 = 0x23456789u;
    key2 = 0x34567890u;
    for (const char* p = password; *p; p++)
        updateKeys((uint8_t)*p);
}

void wipeKeys()
{
    // Through volatile: stores to keys that are not read again must still happen.
    volatile uint32_t* keys[3] = {&key0, &key1, &key2};
    for (int i = 0; i < 3; i++)
        *keys[i] = 0;
}

void updateKeys(uint8_t plain)
{
    key0 = crcTable[(key0 ^ plain) & 0xFF] ^ (key0 >> 8);
    key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;
    key2 = crcTable[(key2 ^ (key1 >> 24)) & 0xFF] ^ (key2 >> 8);
}

uint8_t decryptByte()
{
    uint32_t t = (key2 | 2) & 0xFFFF; // unsigned 32-bit: the 16-bit product must not overflow an int
    return (uint8_t)(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

void decryptBuffer(uint8_t* data, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++) {
        uint8_t plain = data[i] ^ decryptByte();
        updateKeys(plain);
        data[i] = plain;
    }
}

void encryptBuffer(uint8_t* data, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++) {
        uint8_t plain = data[i];
        data[i] = plain ^ decryptByte();
        updateKeys(plain);
    }
}
