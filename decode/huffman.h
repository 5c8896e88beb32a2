// Decoding tables for the Huffman codes of deflate (RFC 1951).
//
// Format notes the builder relies on:
// - Codes are canonical: within one length, codes are consecutive and follow symbol order; shorter codes
//   come first. A code's bits arrive most significant bit first, packed from the least significant bit of
//   each byte, so the tables are indexed by the code read bit-reversed (first code bit = index bit 0).
// - A set of lengths is complete when the Kraft sum is exactly 1, over-subscribed when it is above 1 and
//   incomplete when below. Deflate's own lengths are at most 15; the builder counts lengths up to 16.
//
// Layout: a multi-level table. The root is indexed by the returned width; an entry with `extra` 17..32 is a
// link whose sub-table is indexed by (`extra` - 16) further bits after dropping `bits`. Each table is one
// zero-filled allocation of (size + 1) entries; the first entry is the chain link (its `table` points to the
// next table of the same build, or is null) and the table proper starts at the second entry. Every table of
// one build forms one chain, in order of allocation, starting at the root.
#ifndef AKSFX_HUFFMAN_H
#define AKSFX_HUFFMAN_H

#include <stddef.h>
#include <stdint.h>

// Values of HuffmanEntry::extra besides 0..13 (extra bits of a length or distance).
enum : uint8_t {
    HUFFMAN_END_OF_BLOCK = 15,
    HUFFMAN_LITERAL = 16,   // a literal byte, or a plain symbol of the code-length code
    HUFFMAN_LINK_BASE = 16, // 17..32: a link to a sub-table of (extra - 16) bits
    HUFFMAN_INVALID = 99,   // no symbol has this code (the patterns an incomplete code leaves free)
};

struct HuffmanEntry {
    uint8_t extra;
    uint8_t bits; // code bits this entry accounts for at its own level
    union {
        uint16_t value;      // literal or plain symbol, or the base of a length or distance
        HuffmanEntry* table; // link: the sub-table; chain link: the next table of the build
    };
};

enum {
    HUFFMAN_MAX_LENGTH = 16,
    HUFFMAN_MAX_SYMBOLS = 288,
    HUFFMAN_MAX_LEVELS = 16,
};

// Results of buildHuffmanTable.
enum {
    HUFFMAN_COMPLETE = 0,       // also: all lengths zero (null table, width 0), or a single one-bit code
    HUFFMAN_INCOMPLETE = 1,     // tables built; the caller releases them
    HUFFMAN_OVERSUBSCRIBED = 2, // nothing built
    HUFFMAN_NO_MEMORY = 3,      // what was built is released; huffmanOutOfMemory has been called
};

// Builds the tables for n code lengths. Symbols below s are plain (below 256: `extra` 16; 256 and up: end of
// block, `extra` 15); symbol v >= s takes base[v - s] and extra[v - s]. On entry *width is the requested
// root width; on return the width to index the root with (raised to the shortest length, lowered to the
// longest). Lengths above 16 are refused as over-subscribed; n above 288 likewise.
int buildHuffmanTable(const uint16_t* lengths, unsigned n, unsigned s, const uint16_t* base, const uint16_t* extra,
                      HuffmanEntry** table, int* width);

// Releases every table of the chain that starts at table (null is allowed). Returns 0.
int freeHuffmanTable(HuffmanEntry* table);

// Allocation and release of one zero-filled table block (default: calloc and free). Tests count blocks here.
extern void* (*huffmanAllocate)(size_t bytes);
extern void (*huffmanRelease)(void* block);

// Called when an allocation fails, after the partial chain has been released. The stub points it at its
// fatal-error exit ("out of memory"), which does not return; if it returns, the build returns 3.
extern void (*huffmanOutOfMemory)(void);

#endif
