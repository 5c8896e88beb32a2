// The inflate decoder.
//
// Format notes (RFC 1951):
// - Bits are packed from the least significant bit of each byte. Fields other than Huffman codes (block
//   header, stored LEN/NLEN, extra bits, dynamic header counts) are read least significant bit first as well;
//   Huffman codes arrive most significant bit first, which is why the tables are indexed bit-reversed.
// - Block header: BFINAL (1 bit), BTYPE (2 bits): 0 stored, 1 fixed codes, 2 dynamic codes, 3 reserved.
// - Stored block: skip to the byte boundary, then LEN and NLEN (16 bits each, NLEN = ~LEN), then LEN bytes.
// - Dynamic block: HLIT (5) + 257 literal/length codes, HDIST (5) + 1 distance codes, HCLEN (4) + 4 code-
//   length code lengths of 3 bits in the order 16, 17, 18, 0, 8, 7, ... 1, 15; then the literal/length and
//   distance lengths as one sequence coded with the code-length code, where 16 repeats the previous length
//   3-6 times, 17 writes 3-10 zeros, 18 writes 11-138 zeros; a repeat may cross from the literal/length
//   lengths into the distance lengths.
// - Distances reach back at most 32768 bytes; a match may overlap the bytes it produces (distance shorter
//   than length), which repeats the pattern.
//
// How it is made fast without changing a result: the 64-bit bit buffer holds more than the format ever needs
// for one symbol (at most 15 + 5 + 15 + 13 = 48 bits). While at least 8 input bytes are ready in the current
// piece and the window has room for the longest match, the fast loop refills the buffer with one unaligned
// 8-byte load per symbol and copies matches in 8-byte chunks. Near the end of a piece or of the window it
// hands over to a careful step that fetches single bytes and flushes the window exactly where the byte-by-
// byte method would. Since the fast loop only ever loads real input bytes, the bits seen by the decoder are
// always the entry's bytes followed by repeats of `lastByte`, whichever path fetched them.
#include "inflate.h"

#include <string.h>

#include "huffman.h"

InflateIo inflateIo;
uint16_t lastByte;
uint16_t windowPos;

const uint16_t maskBits[17] = {
    0x0000, 0x0001, 0x0003, 0x0007, 0x000f, 0x001f, 0x003f, 0x007f, 0x00ff,
    0x01ff, 0x03ff, 0x07ff, 0x0fff, 0x1fff, 0x3fff, 0x7fff, 0xffff,
};
const uint16_t codeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
const uint16_t lengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint16_t lengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                  3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const uint16_t distanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                   193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint16_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

static const int literalLookupBits = 9;
static const int distanceLookupBits = 6;
static const int fixedLiteralBits = 7;
static const int fixedDistanceBits = 5;
static const int codeLengthBits = 7;

enum {
    MAX_MATCH = 258,
    MAX_LITERAL_LENGTH_CODES = 286,
    MAX_DISTANCE_CODES = 30,
    // The fast loop runs while a whole symbol's output fits below the end of the window...
    FAST_WINDOW_LIMIT = INFLATE_WINDOW_SIZE - MAX_MATCH,
    // ...and an 8-byte load from the current input position stays inside the piece.
    FAST_INPUT_BYTES = 8,
    // Bits the fast loop holds after a refill; one symbol with its extra bits takes at most 48.
    FAST_REFILL_BITS = 56,
};
static_assert(FAST_REFILL_BITS >= 15 + 5 + 15 + 13, "one refill must cover a length/distance pair");
static_assert(INFLATE_WINDOW_SIZE % OUTPUT_BUFFER_SIZE == 0, "window flushes leave the output buffer empty");

// Bit state of the current entry. The bit buffer holds bitCount valid bits; above them it is zero, except
// inside the fast loop, where it may also hold copies of the next input bits.
static uint64_t bitBuffer;
static unsigned bitCount;
static const uint8_t* inputNext;
static const uint8_t* inputEnd;
static bool inputDry;          // readInput has returned 0 for this entry
static uint32_t inventedBytes; // copies of lastByte shifted in after the input ran dry

// Tables of the block being decoded; released at the end of the block or by releaseDecoderTables.
static HuffmanEntry* codeLengthTable;
static HuffmanEntry* literalTable;
static HuffmanEntry* distanceTable;

static void releaseTable(HuffmanEntry** table)
{
    freeHuffmanTable(*table);
    *table = nullptr;
}

void releaseDecoderTables()
{
    releaseTable(&codeLengthTable);
    releaseTable(&literalTable);
    releaseTable(&distanceTable);
}

void flushWindow(uint32_t n)
{
    const uint8_t* from = inflateIo.window;
    while (n != 0) {
        uint32_t piece = OUTPUT_BUFFER_SIZE - inflateIo.outputCount;
        if (piece > n)
            piece = n;
        memcpy(inflateIo.outputBuffer + inflateIo.outputCount, from, piece);
        inflateIo.outputCount += piece;
        from += piece;
        n -= piece;
        if (inflateIo.outputCount == OUTPUT_BUFFER_SIZE) {
            inflateIo.flushOutputBuffer();
            inflateIo.outputCount = 0;
        }
    }
}

// ---- Byte-at-a-time access (block headers, stored blocks, the edges of pieces and of the window) ----

static void fetchByte()
{
    if (inputNext == inputEnd && !inputDry) {
        const uint8_t* piece = nullptr;
        uint32_t n = inflateIo.readInput(&piece);
        if (n == 0 || piece == nullptr) {
            inputDry = true;
        } else {
            inputNext = piece;
            inputEnd = piece + n;
        }
    }
    if (inputNext != inputEnd)
        lastByte = *inputNext++;
    else
        inventedBytes++;
    bitBuffer |= (uint64_t)(lastByte & 0xff) << bitCount;
    bitCount += 8;
}

static inline void needBits(unsigned n)
{
    while (bitCount < n)
        fetchByte();
}

static inline void dropBits(unsigned n)
{
    bitBuffer >>= n;
    bitCount -= n;
}

static inline unsigned peekBits(unsigned n)
{
    return (unsigned)bitBuffer & maskBits[n];
}

// True once a bit that the input never delivered has been consumed: the stream runs past the entry's data.
static inline bool consumedPastEnd()
{
    return inventedBytes * 8 > bitCount;
}

static inline void putWindowByte(uint8_t b)
{
    inflateIo.window[windowPos++] = b;
    if (windowPos == INFLATE_WINDOW_SIZE) {
        flushWindow(INFLATE_WINDOW_SIZE);
        windowPos = 0;
    }
}

// Follows links from entry t until a final entry; returns null for an invalid code.
static inline const HuffmanEntry* resolveCode(const HuffmanEntry* t)
{
    unsigned e = t->extra;
    while (e > HUFFMAN_LINK_BASE) {
        if (e == HUFFMAN_INVALID)
            return nullptr;
        dropBits(t->bits);
        e -= HUFFMAN_LINK_BASE;
        needBits(e);
        t = t->table + peekBits(e);
        e = t->extra;
    }
    return t;
}

// Decodes one literal/length symbol byte by byte. Returns -1 to go on, 0 at the end of the block, 1 on
// invalid data.
static int decodeSymbolCarefully(const HuffmanEntry* literals, const HuffmanEntry* distances, unsigned bl,
                                 unsigned bd)
{
    if (consumedPastEnd())
        return 1;
    needBits(bl);
    const HuffmanEntry* t = resolveCode(literals + peekBits(bl));
    if (!t)
        return 1;
    dropBits(t->bits);
    unsigned e = t->extra;
    if (e == HUFFMAN_LITERAL) {
        putWindowByte((uint8_t)t->value);
        return -1;
    }
    if (e == HUFFMAN_END_OF_BLOCK)
        return 0;

    needBits(e);
    uint32_t n = t->value + peekBits(e);
    dropBits(e);
    if (!distances)
        return 1; // a length in a block whose distance code is empty
    needBits(bd);
    t = resolveCode(distances + peekBits(bd));
    if (!t)
        return 1;
    dropBits(t->bits);
    e = t->extra;
    needBits(e);
    uint16_t d = (uint16_t)(windowPos - t->value - peekBits(e));
    dropBits(e);

    uint8_t* window = inflateIo.window;
    while (n != 0) {
        d &= INFLATE_WINDOW_SIZE - 1;
        uint32_t count = INFLATE_WINDOW_SIZE - (d > windowPos ? d : windowPos);
        if (count > n)
            count = n;
        n -= count;
        while (count-- != 0)
            window[windowPos++] = window[d++];
        if (windowPos == INFLATE_WINDOW_SIZE) {
            flushWindow(INFLATE_WINDOW_SIZE);
            windowPos = 0;
        }
    }
    return -1;
}

// ---- The fast loop ----

static inline uint64_t loadLittleEndian64(const uint8_t* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
#else
    uint64_t v = 0;
    for (int i = 7; i >= 0; i--)
        v = (v << 8) | p[i];
    return v;
#endif
}

static inline void copy8(uint8_t* to, const uint8_t* from)
{
    uint64_t v;
    memcpy(&v, from, 8);
    memcpy(to, &v, 8);
}

static inline void copy4(uint8_t* to, const uint8_t* from)
{
    uint32_t v;
    memcpy(&v, from, 4);
    memcpy(to, &v, 4);
}

// Copies len bytes to `to` from `distance` bytes before it, as a forward byte-by-byte copy would (a distance
// below len repeats the pattern; distance 0 leaves the bytes as they are). Writes nothing past to + len.
static inline void copyMatch(uint8_t* to, uint32_t distance, uint32_t len)
{
    const uint8_t* from = to - distance;
    if (distance >= 8) {
        if (len >= 8) {
            uint8_t* end = to + len;
            do {
                copy8(to, from);
                to += 8;
                from += 8;
            } while (to + 8 <= end);
            // The last 8 bytes again, overlapping what is written: their source lies before `to` by now.
            copy8(end - 8, end - 8 - distance);
        } else if (len >= 4) {
            copy4(to, from);
            copy4(to + len - 4, from + len - 4);
        } else {
            while (len-- != 0)
                *to++ = *from++;
        }
    } else if (distance == 1) {
        memset(to, to[-1], len);
    } else if (distance != 0) {
        while (len-- != 0)
            *to++ = *from++;
    }
}

// The fast loop's form of resolveCode: follows links from entry t with the bits already in the local bit
// buffer (the caller has made sure enough are there). Returns null for an invalid code.
static inline __attribute__((always_inline)) const HuffmanEntry* followLinksFast(const HuffmanEntry* t,
                                                                               uint64_t* bb, unsigned* bc)
{
    unsigned e = t->extra;
    while (e > HUFFMAN_LINK_BASE) {
        if (e == HUFFMAN_INVALID)
            return nullptr;
        *bb >>= t->bits;
        *bc -= t->bits;
        e -= HUFFMAN_LINK_BASE;
        t = t->table + (*bb & maskBits[e]);
        e = t->extra;
    }
    return t;
}

// Runs while the input piece and the window leave room for a whole symbol. Returns -1 when it hands over,
// 0 at the end of the block, 1 on invalid data.
static int decodeSymbolsFast(const HuffmanEntry* literals, const HuffmanEntry* distances, unsigned bl, unsigned bd)
{
    uint64_t bb = bitBuffer;
    unsigned bc = bitCount;
    const uint8_t* in = inputNext;
    const uint8_t* const inStart = in;
    const uint8_t* const end = inputEnd;
    uint8_t* const window = inflateIo.window;
    uint32_t wp = windowPos;
    const uint64_t ml = maskBits[bl];
    const uint64_t md = maskBits[bd];
    int result = -1;

    while ((size_t)(end - in) >= FAST_INPUT_BYTES && wp < FAST_WINDOW_LIMIT) {
        // Refill to at least 56 bits with whole bytes; the bits above bc are copies of the next input
        // bits, so or-ing the same bytes in again later changes nothing.
        bb |= loadLittleEndian64(in) << bc;
        in += (63 - bc) >> 3;
        bc |= FAST_REFILL_BITS;

        const HuffmanEntry* t = followLinksFast(literals + (bb & ml), &bb, &bc);
        if (!t) {
            result = 1;
            goto done;
        }
        unsigned e = t->extra;
        bb >>= t->bits;
        bc -= t->bits;
        if (e == HUFFMAN_LITERAL) {
            window[wp++] = (uint8_t)t->value;
            continue;
        }
        if (e == HUFFMAN_END_OF_BLOCK) {
            result = 0;
            goto done;
        }

        uint32_t n = t->value + ((uint32_t)bb & maskBits[e]);
        bb >>= e;
        bc -= e;
        if (!distances) {
            result = 1;
            goto done;
        }
        t = followLinksFast(distances + (bb & md), &bb, &bc);
        if (!t) {
            result = 1;
            goto done;
        }
        e = t->extra;
        bb >>= t->bits;
        bc -= t->bits;
        uint32_t distance = t->value + ((uint32_t)bb & maskBits[e]);
        bb >>= e;
        bc -= e;

        uint8_t* to = window + wp;
        if (distance <= wp) {
            copyMatch(to, distance, n);
        } else {
            // The source starts in the older part of the window, beyond wp, and may run on from window[0].
            const uint8_t* from = to + INFLATE_WINDOW_SIZE - distance;
            uint32_t first = distance - wp;
            if (first >= n) {
                memmove(to, from, n); // from >= to: same as a forward copy
            } else {
                memmove(to, from, first);
                copyMatch(to + first, distance, n - first);
            }
        }
        wp += n;
    }

done:
    if (in != inStart)
        lastByte = in[-1];
    bitBuffer = bb & (((uint64_t)1 << bc) - 1);
    bitCount = bc;
    inputNext = in;
    windowPos = (uint16_t)wp;
    return result;
}

// Decodes the literal/length and distance codes of one block until its end-of-block code.
static int inflateCodes(const HuffmanEntry* literals, const HuffmanEntry* distances, unsigned bl, unsigned bd)
{
    if (!literals)
        return 1; // empty literal/length code: not even the end of the block can be coded
    for (;;) {
        int r = decodeSymbolsFast(literals, distances, bl, bd);
        if (r >= 0)
            return r;
        r = decodeSymbolCarefully(literals, distances, bl, bd);
        if (r >= 0)
            return r;
    }
}

// ---- Blocks ----

static int inflateStored()
{
    dropBits(bitCount & 7);
    needBits(16);
    uint32_t len = peekBits(16);
    dropBits(16);
    needBits(16);
    if (len != (~(uint32_t)bitBuffer & 0xffffu))
        return 1;
    dropBits(16);

    while (len != 0) {
        if (bitCount == 0 && inputNext != inputEnd) {
            // Bytes straight from the piece: what the bit buffer would pass on unchanged.
            uint32_t chunk = (uint32_t)(inputEnd - inputNext);
            if (chunk > len)
                chunk = len;
            if (chunk > (uint32_t)INFLATE_WINDOW_SIZE - windowPos)
                chunk = (uint32_t)INFLATE_WINDOW_SIZE - windowPos;
            memcpy(inflateIo.window + windowPos, inputNext, chunk);
            inputNext += chunk;
            lastByte = inputNext[-1];
            windowPos = (uint16_t)(windowPos + chunk);
            len -= chunk;
            if (windowPos == INFLATE_WINDOW_SIZE) {
                flushWindow(INFLATE_WINDOW_SIZE);
                windowPos = 0;
            }
            continue;
        }
        if (consumedPastEnd())
            return 1;
        needBits(8);
        putWindowByte((uint8_t)bitBuffer);
        dropBits(8);
        len--;
    }
    return 0;
}

static int inflateFixed()
{
    uint16_t lengths[288];
    for (int i = 0; i < 144; i++)
        lengths[i] = 8;
    for (int i = 144; i < 256; i++)
        lengths[i] = 9;
    for (int i = 256; i < 280; i++)
        lengths[i] = 7;
    for (int i = 280; i < 288; i++)
        lengths[i] = 8;
    int bl = fixedLiteralBits;
    int r = buildHuffmanTable(lengths, 288, 257, lengthBase, lengthExtra, &literalTable, &bl);
    if (r != 0) {
        releaseTable(&literalTable);
        return r;
    }

    for (int i = 0; i < 30; i++)
        lengths[i] = 5;
    int bd = fixedDistanceBits;
    r = buildHuffmanTable(lengths, 30, 0, distanceBase, distanceExtra, &distanceTable, &bd);
    if (r > HUFFMAN_INCOMPLETE) { // 30 of 32 five-bit codes: incomplete, and accepted
        releaseTable(&literalTable);
        return r;
    }

    r = inflateCodes(literalTable, distanceTable, (unsigned)bl, (unsigned)bd);
    releaseTable(&literalTable);
    releaseTable(&distanceTable);
    return r != 0 ? 1 : 0;
}

static int inflateDynamic()
{
    uint16_t lengths[MAX_LITERAL_LENGTH_CODES + MAX_DISTANCE_CODES];

    needBits(5);
    unsigned nl = 257 + peekBits(5);
    dropBits(5);
    needBits(5);
    unsigned nd = 1 + peekBits(5);
    dropBits(5);
    needBits(4);
    unsigned nb = 4 + peekBits(4);
    dropBits(4);
    if (nl > MAX_LITERAL_LENGTH_CODES || nd > MAX_DISTANCE_CODES)
        return 1;

    for (unsigned j = 0; j < nb; j++) {
        needBits(3);
        lengths[codeLengthOrder[j]] = (uint16_t)peekBits(3);
        dropBits(3);
    }
    for (unsigned j = nb; j < 19; j++)
        lengths[codeLengthOrder[j]] = 0;

    int bl = codeLengthBits;
    int r = buildHuffmanTable(lengths, 19, 19, nullptr, nullptr, &codeLengthTable, &bl);
    if (r != 0) {
        releaseTable(&codeLengthTable);
        return r;
    }
    if (!codeLengthTable)
        return 1; // every code-length code length is zero: no length can be coded

    // The code-length code is at most 7 bits long, so its table has a single level.
    const unsigned total = nl + nd;
    unsigned i = 0;
    uint16_t previous = 0;
    while (i < total) {
        if (consumedPastEnd()) {
            releaseTable(&codeLengthTable);
            return 1;
        }
        needBits((unsigned)bl);
        const HuffmanEntry* t = codeLengthTable + peekBits((unsigned)bl);
        if (t->extra == HUFFMAN_INVALID) { // the free pattern of a single one-bit code
            releaseTable(&codeLengthTable);
            return 1;
        }
        dropBits(t->bits);
        unsigned s = t->value;
        unsigned repeat;
        uint16_t length;
        if (s < 16) {
            lengths[i++] = (uint16_t)s;
            previous = (uint16_t)s;
            continue;
        } else if (s == 16) {
            needBits(2);
            repeat = 3 + peekBits(2);
            dropBits(2);
            length = previous;
        } else if (s == 17) {
            needBits(3);
            repeat = 3 + peekBits(3);
            dropBits(3);
            length = 0;
            previous = 0;
        } else {
            needBits(7);
            repeat = 11 + peekBits(7);
            dropBits(7);
            length = 0;
            previous = 0;
        }
        if (i + repeat > total) {
            releaseTable(&codeLengthTable);
            return 1;
        }
        while (repeat-- != 0)
            lengths[i++] = length;
    }
    releaseTable(&codeLengthTable);

    bl = literalLookupBits;
    r = buildHuffmanTable(lengths, nl, 257, lengthBase, lengthExtra, &literalTable, &bl);
    if (r != 0) { // an incomplete literal/length code is refused
        releaseTable(&literalTable);
        return r;
    }
    int bd = distanceLookupBits;
    r = buildHuffmanTable(lengths + nl, nd, 0, distanceBase, distanceExtra, &distanceTable, &bd);
    if (r != 0) { // so is an incomplete distance code, except a single one-bit code (reported complete)
        releaseTable(&distanceTable);
        releaseTable(&literalTable);
        return r;
    }

    r = inflateCodes(literalTable, distanceTable, (unsigned)bl, (unsigned)bd);
    releaseTable(&literalTable);
    releaseTable(&distanceTable);
    return r != 0 ? 1 : 0;
}

static int inflateBlock(bool* final)
{
    if (consumedPastEnd())
        return 1;
    needBits(1);
    *final = (bitBuffer & 1) != 0;
    dropBits(1);
    needBits(2);
    unsigned type = peekBits(2);
    dropBits(2);
    switch (type) {
    case 0:
        return inflateStored();
    case 1:
        return inflateFixed();
    case 2:
        return inflateDynamic();
    default:
        return INFLATE_BAD_BLOCK;
    }
}

uint32_t inflateUnusedInput()
{
    // Bits left over are the unused top of the last byte read from (fewer than 8) and whole bytes after it;
    // invented bytes were never delivered and are not counted (after a good stream none of their bits has
    // been consumed, so they all lie inside bitCount).
    uint32_t bufferedBytes = (bitCount >> 3) - inventedBytes;
    return bufferedBytes + (uint32_t)(inputEnd - inputNext);
}

int inflate()
{
    releaseDecoderTables(); // left behind if the previous entry was left by longjmp
    bitBuffer = 0;
    bitCount = 0;
    windowPos = 0;
    inputNext = nullptr;
    inputEnd = nullptr;
    inputDry = false;
    inventedBytes = 0;

    bool final = false;
    do {
        int r = inflateBlock(&final);
        if (r != 0)
            return r;
    } while (!final);
    if (consumedPastEnd())
        return 1; // the final block ended in bits the entry does not hold
    if (windowPos > 0)
        flushWindow(windowPos);
    return 0;
}
