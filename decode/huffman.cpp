// Builds multi-level decoding tables from code lengths.
//
// Format notes:
// - Canonical codes: the first code of length k follows the last code of length k-1, doubled; the builder
//   never computes codes as numbers, it walks them in order as a bit-reversed pattern `i`, so the pattern is
//   directly the table index (first code bit in bit 0).
// - Incrementing a canonical code adds one at its last bit, which is bit k-1 of the reversed pattern: the
//   pattern is incremented from the top bit down. When a new prefix starts, the bits after the prefix are 0.
// - An incomplete code is completed with dummy codes of the longest length, marked invalid, so that every
//   index of every table holds an entry.
#include "huffman.h"

#include <stdlib.h>
#include <string.h>

static void* allocateZeroed(size_t bytes)
{
    return calloc(1, bytes);
}

static void releaseBlock(void* block)
{
    free(block);
}

void* (*huffmanAllocate)(size_t bytes) = allocateZeroed;
void (*huffmanRelease)(void* block) = releaseBlock;
void (*huffmanOutOfMemory)(void) = nullptr;

int freeHuffmanTable(HuffmanEntry* table)
{
    while (table) {
        HuffmanEntry* block = table - 1;
        table = block->table;
        huffmanRelease(block);
    }
    return 0;
}

int buildHuffmanTable(const uint16_t* lengths, unsigned n, unsigned s, const uint16_t* base, const uint16_t* extra,
                      HuffmanEntry** table, int* width)
{
    // Counters are 32-bit here: with deflate's lengths (at most 15) every value fits 16 bits anyway, and
    // with length 16 the table size 2^16 and the fill step must not wrap.
    uint32_t count[HUFFMAN_MAX_LENGTH + 2];
    uint32_t offset[HUFFMAN_MAX_LENGTH + 2];
    uint16_t values[HUFFMAN_MAX_SYMBOLS];
    HuffmanEntry* levelTable[HUFFMAN_MAX_LEVELS];
    uint32_t savedPattern[HUFFMAN_MAX_LEVELS];

    *table = nullptr;
    if (n > HUFFMAN_MAX_SYMBOLS)
        return HUFFMAN_OVERSUBSCRIBED;

    // 1. Count.
    memset(count, 0, sizeof count);
    for (unsigned i = 0; i < n; i++) {
        if (lengths[i] > HUFFMAN_MAX_LENGTH)
            return HUFFMAN_OVERSUBSCRIBED;
        count[lengths[i]]++;
    }

    // 2. Empty code.
    if (count[0] == n) {
        *width = 0;
        return HUFFMAN_COMPLETE;
    }

    // 3. Bounds of the lengths, and the root width.
    int kmin = 1;
    while (count[kmin] == 0)
        kmin++;
    int g = HUFFMAN_MAX_LENGTH;
    while (count[g] == 0)
        g--;
    int l = *width;
    if (l < kmin)
        l = kmin;
    if (l > g)
        l = g;
    *width = l;

    // 4. Kraft check; complete an incomplete code with dummies of the longest length.
    int32_t y = 1 << kmin;
    for (int j = kmin; j < g; j++) {
        y -= (int32_t)count[j];
        if (y < 0)
            return HUFFMAN_OVERSUBSCRIBED;
        y <<= 1;
    }
    y -= (int32_t)count[g];
    if (y < 0)
        return HUFFMAN_OVERSUBSCRIBED;
    count[g] += (uint32_t)y;

    // 5, 6. Symbols in code order (by length, then by symbol).
    offset[1] = 0;
    for (int j = 1; j < g; j++)
        offset[j + 1] = offset[j] + count[j];
    uint32_t used = 0;
    for (unsigned i = 0; i < n; i++) {
        if (lengths[i] != 0) {
            values[offset[lengths[i]]++] = (uint16_t)i;
            used++;
        }
    }

    // 7. Walk the codes in order, opening a table whenever a code does not fit the levels open so far.
    uint32_t i = 0;         // the current code, bit-reversed
    savedPattern[0] = 0;
    int h = -1;             // level of the current table
    int w = -l;             // code bits resolved by the levels above the current table
    HuffmanEntry* q = nullptr;
    uint32_t z = 0;         // size of the current table
    HuffmanEntry* chainEnd = nullptr;
    uint32_t next = 0;      // read position in values
    for (int k = kmin; k <= g; k++) {
        for (uint32_t a = count[k]; a-- != 0;) { // a: codes of length k left after this one
            while (k > w + l) {
                h++;
                w += l;
                uint32_t limit = (uint32_t)(g - w) < (uint32_t)l ? (uint32_t)(g - w) : (uint32_t)l;
                uint32_t j = (uint32_t)(k - w);
                uint32_t f = 1u << j;
                if (f > a + 1) { // too few codes of length k to fill a j-bit table: try wider ones
                    f -= a + 1;
                    j++;
                    int xp = k;
                    while (j < limit) {
                        f <<= 1;
                        uint32_t c = count[++xp];
                        if (f <= c)
                            break;
                        f -= c;
                        j++;
                    }
                }
                z = 1u << j;
                HuffmanEntry* block = (HuffmanEntry*)huffmanAllocate((z + 1) * sizeof(HuffmanEntry));
                if (!block) {
                    freeHuffmanTable(*table);
                    *table = nullptr;
                    if (huffmanOutOfMemory)
                        huffmanOutOfMemory();
                    return HUFFMAN_NO_MEMORY;
                }
                q = block + 1;
                if (chainEnd)
                    chainEnd->table = q;
                else
                    *table = q;
                chainEnd = block;
                chainEnd->table = nullptr;
                levelTable[h] = q;
                if (h > 0) {
                    savedPattern[h] = i;
                    HuffmanEntry link;
                    link.bits = (uint8_t)l;
                    link.extra = (uint8_t)(HUFFMAN_LINK_BASE + j);
                    link.table = q;
                    levelTable[h - 1][i >> (w - l)] = link;
                }
            }

            HuffmanEntry r;
            r.bits = (uint8_t)(k - w);
            r.value = 0;
            if (next >= used) {
                r.extra = HUFFMAN_INVALID;
            } else {
                uint16_t v = values[next++];
                if (v < s) {
                    r.extra = v < 256 ? HUFFMAN_LITERAL : HUFFMAN_END_OF_BLOCK;
                    r.value = v;
                } else {
                    r.extra = (uint8_t)extra[v - s];
                    r.value = base[v - s];
                }
            }

            uint32_t step = 1u << (k - w);
            for (uint32_t j = i >> w; j < z; j += step)
                q[j] = r;

            uint32_t bit = 1u << (k - 1);
            while (i & bit) {
                i ^= bit;
                bit >>= 1;
            }
            i ^= bit;

            while ((i & ((1u << w) - 1)) != savedPattern[h]) {
                h--;
                w -= l;
            }
        }
    }

    // 8. Incomplete, unless it is a single one-bit code.
    return (y != 0 && g != 1) ? HUFFMAN_INCOMPLETE : HUFFMAN_COMPLETE;
}
