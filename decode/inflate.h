// The inflate decoder: turns one entry's deflate stream (RFC 1951) into its bytes.
//
// Plugging it in: before calling inflate() the caller fills inflateIo.
// - Input: readInput points *piece at the next piece of the entry's compressed data (already decrypted) and
//   returns its size, or returns 0 once the entry's data is used up (then it is not called again for this
//   entry). The decoder reads the pieces directly, so the hot path costs no call per byte. When the stream
//   ends, inflateUnusedInput() tells how many of the bytes it has fetched the stream did not use.
// - Output: `window` is the 32768-byte sliding window, kept by the caller across entries (zero-filled once at
//   start-up; distances that reach back before the entry's own bytes read whatever it holds). Decoded bytes go
//   from the window into `outputBuffer` (OUTPUT_BUFFER_SIZE bytes, `outputCount` held); each time the count
//   reaches exactly 2048, flushOutputBuffer is called, which processes outputBuffer[0..outputCount) and sets
//   outputCount to 0. It may leave by longjmp (cancel, fatal error): call releaseDecoderTables() afterwards
//   (inflate also does it when it starts). A last partial buffer is left to the caller.
// The window is flushed each time it fills and once at the end of a good stream, never after an error.
//
// Results: 0 done, 1 invalid data, 2 block type 3 or over-subscribed code lengths, 3 out of memory (only if
// huffmanOutOfMemory returns).
//
// End of input: once readInput has returned 0 the decoder shifts in `lastByte` (the last byte delivered, kept
// across entries) again and again, as look-ahead for a last code shorter than its lookup width. Before each
// block header, each code-length symbol, each literal/length symbol, each stored byte, and after the final
// block, it checks whether any such invented bit has been consumed; if so it stops with 1 (no window flush).
#ifndef AKSFX_INFLATE_H
#define AKSFX_INFLATE_H

#include <stdint.h>

enum {
    INFLATE_WINDOW_SIZE = 32768,
    OUTPUT_BUFFER_SIZE = 2048,
};

enum {
    INFLATE_OK = 0,
    INFLATE_BAD_DATA = 1,
    INFLATE_BAD_BLOCK = 2, // block type 3, or an over-subscribed code
    INFLATE_NO_MEMORY = 3,
};

struct InflateIo {
    uint32_t (*readInput)(const uint8_t** piece);
    void (*flushOutputBuffer)(void);
    uint8_t* window;       // INFLATE_WINDOW_SIZE bytes
    uint8_t* outputBuffer; // OUTPUT_BUFFER_SIZE bytes
    uint32_t outputCount;
};

extern InflateIo inflateIo;

// Decoder state that outlives a call (the rest is reset by inflate).
extern uint16_t lastByte;  // the last input byte delivered; repeated once the input is used up
extern uint16_t windowPos; // next write position in the window (after inflate: where the entry ended)

int inflate();

// After inflate() has returned INFLATE_OK: the bytes delivered by readInput that lie after the end of the
// stream (whole bytes left in the bit buffer and the rest of the current piece). The byte that holds the
// stream's last bit counts as used, whatever bits of it remain. A stream that fills its entry's data
// exactly leaves 0; more means the data goes on after the stream.
uint32_t inflateUnusedInput();

// Copies window bytes 0..n-1 into the output buffer, flushing it at every 2048 bytes.
void flushWindow(uint32_t n);

// Releases the tables of a block that was left by longjmp. Safe to call at any time.
void releaseDecoderTables();

// The constant tables of deflate (entries for literal/length symbols 257..287 and distance symbols 0..29).
extern const uint16_t maskBits[17];
extern const uint16_t codeLengthOrder[19];
extern const uint16_t lengthBase[31];
extern const uint16_t lengthExtra[31];
extern const uint16_t distanceBase[30];
extern const uint16_t distanceExtra[30];

#endif
