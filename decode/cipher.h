// Traditional ZIP encryption (the stream cipher of the ZIP format's "traditional encryption").
//
// Three 32-bit keys start at 0x12345678, 0x23456789, 0x34567890 and absorb the password byte by byte;
// each data byte is XORed with a key-stream byte taken from key2, and the keys then absorb the plain
// byte. An encrypted entry's data begins with a 12-byte header whose last byte, after decryption, is a
// check byte: the high byte of the CRC-32, or of the DOS time when a data descriptor follows the data.
#ifndef AKSFX_CIPHER_H
#define AKSFX_CIPHER_H

#include <stdint.h>

extern uint32_t key0, key1, key2;

void initKeys(const char* password);
// Clears the keys, which are derived from the password, once a run has no more data to decrypt.
void wipeKeys();
void updateKeys(uint8_t plain);
uint8_t decryptByte();

// Decrypts n bytes in place, advancing the keys with each plain byte.
void decryptBuffer(uint8_t* data, uint32_t n);

// Encrypts n bytes in place (the building tool's direction).
void encryptBuffer(uint8_t* data, uint32_t n);

// The byte that the decrypted twelfth header byte must equal: the high byte of the CRC-32, or with
// general-purpose flag bit 3 (data descriptor) the high byte of the DOS time.
inline uint8_t encryptionCheckByte(uint16_t generalFlags, uint32_t crc32, uint16_t dosTime)
{
    return (generalFlags & 0x8) ? (uint8_t)(dosTime >> 8) : (uint8_t)(crc32 >> 24);
}

#endif
