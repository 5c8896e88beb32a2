// Start-up checks of the stub's own file.
//
// The checked range of the header CRC runs from offset 0 (or, when the file says so, from the section
// table, so that signing or re-stamping the PE headers leaves it intact) up to archiveOffset; the ZIP
// archive carries CRCs of its own. The stored CRC counts as four zero bytes.
#include "payload.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "../archive/volumes.h"
#include "../decode/crc32.h"
#include "messages.h"
#include "sfxhead.h"
#include "text_format.h"

uint8_t localHeaderSignature[8];
uint8_t centralHeaderSignature[8];
uint8_t endRecordSignature[8];
uint8_t digitalSignatureSignature[8];
uint8_t spanningMarkerSignature[8];
uint8_t spanningSignature[8];

int archiveFile = -1;
int outputFile = -1;
bool spannedSet;
bool exeVolumes;

uint8_t* inflateWindow;
uint8_t* inputBuffer;
uint8_t* outputBuffer;

// The 'P' is kept apart from the three-byte tails; the volatile read keeps the compiler from folding the
// four bytes into one constant that would put a record signature into the image.
static void assembleSignature(uint8_t* signature, const char* tail)
{
    volatile uint8_t p = 0x50;
    signature[0] = p;
    memcpy(signature + 1, tail, 3);
}

static void assembleSignatures()
{
    assembleSignature(localHeaderSignature, "K\x03\x04");
    assembleSignature(centralHeaderSignature, "K\x01\x02");
    assembleSignature(endRecordSignature, "K\x05\x06");
    assembleSignature(digitalSignatureSignature, "K\x05\x05");
    assembleSignature(spanningMarkerSignature, "K00");
    assembleSignature(spanningSignature, "K\x07\x08");
}

void openArchive()
{
    archiveFile = _wsopen(programPath, _O_RDONLY | _O_BINARY, _SH_DENYWR);
    if (archiveFile < 0)
        headerCorrupt();
}

// Reads exactly length bytes at offset; false on a failed seek or a short read.
static bool readAt(int file, uint32_t offset, void* buffer, uint32_t length)
{
    if (_lseek(file, (long)offset, SEEK_SET) != (long)offset)
        return false;
    return _read(file, buffer, length) == (int)length;
}

void checkHeaderCrc(uint32_t length, uint32_t expectedCrc, const uint8_t signature[8])
{
    if (length == 0)
        headerCorrupt();
    uint8_t* prefix = (uint8_t*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, length);
    if (!prefix)
        headerCorrupt();
    uint32_t crc = 0;
    bool ok = readAt(archiveFile, 0, prefix, length)
              && computeHeaderCrc(prefix, length, signature, (parameterBlock.flags & SFXF_CRC_AFTER_HEADERS) != 0,
                                  &crc);
    LocalFree(prefix);
    if (!ok || crc != expectedCrc)
        headerCorrupt();
}

void readSfxHeader()
{
    if (parameterBlock.headerOffset == 0)
        return;
    // A header longer than its buffer, or one that would end before it starts, is damage.
    if (parameterBlock.archiveOffset < parameterBlock.headerOffset
        || parameterBlock.archiveOffset - parameterBlock.headerOffset > SFX_HEADER_MAX_BYTES)
        headerCorrupt();
    uint32_t length = parameterBlock.archiveOffset - parameterBlock.headerOffset;
    if (spannedSet)
        switchVolume(1, true);
    static uint8_t header[SFX_HEADER_MAX_BYTES];
    if (!readAt(archiveFile, parameterBlock.headerOffset, header, length))
        headerCorrupt();
    static SfxTexts texts;
    if (!parseSfxHeader(header, length, (parameterBlock.flags & SFXF_HAS_CAPTION) != 0, &texts))
        headerCorrupt();
    copyText(targetFolder, PATH_UNITS, texts.targetFolder);
    if (texts.startupText[0]) {
        startupText = (wchar_t*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, STARTUP_TEXT_UNITS * sizeof(wchar_t));
        if (startupText)
            copyText(startupText, STARTUP_TEXT_UNITS, texts.startupText);
    }
    copyText(headerCaption, CAPTION_UNITS, texts.caption);
    copyText(runCommand, RUN_COMMAND_UNITS, texts.runCommand);
    copyText(infoText, INFO_TEXT_UNITS, texts.infoText);
}

static void checkEndRecord()
{
    uint8_t found[4];
    if (!readAt(archiveFile, parameterBlock.endRecordOffset, found, 4)
        || (memcmp(found, endRecordSignature, 4) != 0 && memcmp(found, digitalSignatureSignature, 4) != 0))
        fatalMessage(IDS_ZIP_DAMAGED, loadText(IDS_ZIP_DAMAGED));
}

void loadPayload()
{
    assembleSignatures();
    buildCrcTable();
    openArchive();
    if (parameterBlock.headerCrc != 0)
        checkHeaderCrc(parameterBlock.archiveOffset, parameterBlock.headerCrc, parameterBlock.signature);
    if (parameterBlock.flags & SFXF_SPANNED)
        spannedSet = true;
    if (parameterBlock.flags & SFXF_EXE_VOLUMES)
        exeVolumes = true;
    inflateWindow = (uint8_t*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, INFLATE_WINDOW_BYTES);
    inputBuffer = (uint8_t*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, INPUT_PIECE_BYTES);
    outputBuffer = (uint8_t*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, IO_BUFFER_BYTES);
    if (!inflateWindow || !inputBuffer || !outputBuffer)
        headerCorrupt();
    if (spannedSet)
        switchVolume(1, true);
    readSfxHeader();
    if (!spannedSet && parameterBlock.endRecordOffset != 0)
        checkEndRecord();
}

bool checkEntryPoint()
{
    uint8_t headers[PE_NT_HEADERS_SIZE];
    memset(headers, 0, sizeof headers);
    int file = _wsopen(programPath, _O_RDONLY | _O_BINARY, _SH_DENYNO);
    if (file < 0)
        return false;
    uint8_t dosHeader[64];
    bool ok = _read(file, dosHeader, 64) == 64
              && readAt(file, readLe32(dosHeader + PE_NEW_HEADER_FIELD), headers, PE_NT_HEADERS_SIZE);
    _close(file);
    return ok && readLe32(headers + PE_ENTRY_POINT_FIELD) == parameterBlock.entryPoint;
}
