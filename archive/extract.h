// One extraction run: position the archive, walk it, and turn every entry into a file.
#ifndef AKSFX_EXTRACT_H
#define AKSFX_EXTRACT_H

#include <stdint.h>

enum ExtractStatus : int {
    EXTRACT_DONE = 0,
    EXTRACT_CANCELLED = 1, // Cancel at an overwrite question
    EXTRACT_STOPPED = 2,   // any other stop
};

extern int extractionRunning;
extern int filesExtracted;
extern int filesSkipped; // entries kept at the overwrite question (No) in this run
extern uint32_t crcRegister;

ExtractStatus extractAll();
void extractEntry();

// Loads the next piece (at most INPUT_PIECE_BYTES) of the entry's compressed data into the input buffer,
// decrypted; returns its size, 0 at the end of the entry's data.
uint32_t refillInput();

// Runs the entry's CRC over n output bytes.
void crc32Update(const uint8_t* bytes, uint32_t n);

// Counts n more output bytes of the entry before they are written; stops the run with the CRC message
// when they would take the entry past its declared uncompressed size.
void countEntryOutput(uint32_t n);

#endif
