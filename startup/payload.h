// Reading and checking the stub's own payload: header CRC, end record, entry point, SfxHeader.
#ifndef AKSFX_PAYLOAD_H
#define AKSFX_PAYLOAD_H

#include <stdint.h>

// ZIP record signatures, assembled at start-up so that the stub's image holds none of them.
extern uint8_t localHeaderSignature[8];
extern uint8_t centralHeaderSignature[8];
extern uint8_t endRecordSignature[8];
extern uint8_t digitalSignatureSignature[8];
extern uint8_t spanningMarkerSignature[8];
extern uint8_t spanningSignature[8];

extern int archiveFile; // descriptor of the file being read, -1 when closed
extern int outputFile;  // descriptor of the entry being written, -1 when closed
extern bool spannedSet;
extern bool exeVolumes;

enum : uint32_t {
    INFLATE_WINDOW_BYTES = 32776,
    IO_BUFFER_BYTES = 2068,      // the decoder's output buffer
    INPUT_PIECE_BYTES = 65536,   // the archive is read in pieces of this size: under Wine each read is a call
};
extern uint8_t* inflateWindow;
extern uint8_t* inputBuffer;
extern uint8_t* outputBuffer;

void loadPayload();
void openArchive();
void checkHeaderCrc(uint32_t length, uint32_t expectedCrc, const uint8_t signature[8]);
void readSfxHeader();
bool checkEntryPoint();

#endif
