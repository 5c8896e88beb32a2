// The record walk.
//
// ZIP records as read here (little-endian):
//   local header   50 4B 03 04, 26 fixed bytes (flags at 2, method at 4, time/date at 6/8, CRC at 10,
//                  sizes at 14/18, name length at 22, extra length at 24), name, extra field
//   central header 50 4B 01 02, 42 fixed bytes (name length at 24, extra at 26, comment at 28), name,
//                  extra field, comment
//   end record     50 4B 05 06 (or the digital signature record 50 4B 05 05), 18 fixed bytes (comment
//                  length at 16), comment
// The spanning marker 50 4B 30 30 is passed over; 50 4B 07 08 only in spanned sets.
#include "walk.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "../startup/messages.h"
#include "../startup/payload.h"
#include "../startup/sfxhead.h"
#include "extract.h"
#include "volumes.h"

LocalHeader localHeader;
wchar_t entryPath[ENTRY_PATH_UNITS];
int entryHasDescriptor;

static bool readFull(void* buffer, uint32_t n)
{
    return readArchive(buffer, n) == (int)n;
}

// Reads a fixed record; a spanned set continues it from the start of the next volume.
static void readFixed(void* buffer, uint32_t n, int spannedCode, int singleCode)
{
    if (readFull(buffer, n))
        return;
    if (!spannedSet)
        readError(singleCode);
    switchVolume((uint16_t)(currentDisk + 1), exeVolumes);
    if (!readFull(buffer, n))
        readError(spannedCode);
}

static void skipForward(uint32_t n)
{
    if (n && seekArchive((long)n, SEEK_CUR) < 0)
        readError(2);
}

// Reads a stored name of length bytes and converts it into entryPath.
static void readName(uint32_t length)
{
    if (length > STORED_NAME_MAX)
        fatalMessage(IDS_NAME_TOO_LONG, loadText(IDS_NAME_TOO_LONG));
    char bytes[STORED_NAME_MAX + 1];
    if (!readFull(bytes, length))
        readError(1);
    bytes[length] = 0;
    // Every name is UTF-8, whatever its flags say. Malformed sequences become U+FFFD, which the
    // name rule of the output side then refuses. All length bytes are converted: a zero byte inside the
    // name would otherwise end it early and the entry would land under a shorter name; it becomes U+FFFD
    // too.
    int units = length ? MultiByteToWideChar(CP_UTF8, 0, bytes, (int)length, nullptr, 0) : 0;
    if (units < 0 || units + 1 > (int)CONVERTED_NAME_MAX)
        fatalMessage(IDS_NAME_TOO_LONG, loadText(IDS_NAME_TOO_LONG));
    if (length && MultiByteToWideChar(CP_UTF8, 0, bytes, (int)length, entryPath, ENTRY_PATH_UNITS) != units)
        fatalMessage(IDS_NAME_TOO_LONG, loadText(IDS_NAME_TOO_LONG));
    for (int i = 0; i < units; i++)
        if (entryPath[i] == 0)
            entryPath[i] = 0xFFFD;
    entryPath[units] = 0;
}

void readLocalHeader()
{
    readFixed(&localHeader, sizeof localHeader, 3, 4);
    // Sizes of 2 GiB or more do not fit the count of unread bytes; skipping by such a size would move
    // backwards and could walk the same records for ever.
    if (localHeader.compressedSize < 0)
        fatalMessage(IDS_BAD_HEADER, loadText(IDS_BAD_HEADER));
    entryEncrypted = localHeader.flags & 1;
    entryHasDescriptor = (localHeader.flags >> 3) & 1;
    readName(localHeader.nameLength);
    skipForward(localHeader.extraLength);
}

static void checkCentralEntry()
{
    uint8_t fixed[42];
    if (!readFull(fixed, 42))
        readError(6);
    readName(readLe16(fixed + 24));
    skipForward((uint32_t)readLe16(fixed + 26) + readLe16(fixed + 28));
}

static void skipEndRecord()
{
    uint8_t fixed[18];
    if (!readFull(fixed, 18))
        readError(7);
    skipForward(readLe16(fixed + 16));
}

void walkArchive()
{
    for (;;) {
        uint8_t signature[4];
        readFixed(signature, 4, 8, 9);
        if (memcmp(signature, localHeaderSignature, 4) == 0) {
            extractEntry();
        } else if (memcmp(signature, centralHeaderSignature, 4) == 0) {
            if (spannedSet)
                return;
            checkCentralEntry();
        } else if (memcmp(signature, endRecordSignature, 4) == 0
                   || memcmp(signature, digitalSignatureSignature, 4) == 0) {
            skipEndRecord();
            return;
        } else if (memcmp(signature, spanningMarkerSignature, 4) != 0 && !spannedSet) {
            fatalMessage(IDS_BAD_HEADER, loadText(IDS_BAD_HEADER));
        }
        // Spanned sets pass over anything else four bytes at a time.
    }
}
