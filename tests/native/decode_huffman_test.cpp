// The table builder: results and returned widths, the sizes and order of the chained tables, invalid entries
// for the patterns an incomplete code leaves free, and that every symbol's code leads to that symbol with
// exactly its length consumed (checked by walking the tables as the decoder does).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "decode/huffman.h"
#include "decode/inflate.h"
#include "decode_test_support.h"

namespace {

using decodetest::canonicalCodes;

std::vector<size_t> allocatedEntries; // entries per block (table size + 1), in order
std::vector<HuffmanEntry*> allocatedTables;
int liveBlocks;
int allocationsLeft = 1 << 30;
int outOfMemoryCalls;

void* recordingAllocate(size_t bytes)
{
    if (allocationsLeft-- <= 0)
        return nullptr;
    liveBlocks++;
    allocatedEntries.push_back(bytes / sizeof(HuffmanEntry));
    HuffmanEntry* block = (HuffmanEntry*)calloc(1, bytes);
    allocatedTables.push_back(block + 1);
    return block;
}

void countingRelease(void* block)
{
    liveBlocks--;
    free(block);
}

class HuffmanTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        allocatedEntries.clear();
        allocatedTables.clear();
        liveBlocks = 0;
        allocationsLeft = 1 << 30;
        outOfMemoryCalls = 0;
        huffmanAllocate = recordingAllocate;
        huffmanRelease = countingRelease;
        huffmanOutOfMemory = [] { outOfMemoryCalls++; };
    }
    void TearDown() override
    {
        EXPECT_EQ(liveBlocks, 0) << "tables left unreleased";
        huffmanAllocate = [](size_t bytes) -> void* { return calloc(1, bytes); };
        huffmanRelease = free;
        huffmanOutOfMemory = nullptr;
    }
};


// Walks the tables for a code given most significant bit first, followed by `trailing` further stream bits,
// as the decoder does. Returns the final entry and the bits it consumed.
const HuffmanEntry* walk(const HuffmanEntry* root, int width, uint32_t code, int length, uint32_t trailing, int* consumed)
{
    uint32_t bits = 0;
    for (int i = 0; i < length; i++)
        bits |= ((code >> (length - 1 - i)) & 1) << i;
    uint64_t stream = bits | ((uint64_t)trailing << length);
    const HuffmanEntry* t = root + (stream & maskBits[width]);
    *consumed = 0;
    while (t->extra > HUFFMAN_LINK_BASE && t->extra != HUFFMAN_INVALID) {
        *consumed += t->bits;
        stream >>= t->bits;
        t = t->table + (stream & maskBits[t->extra - HUFFMAN_LINK_BASE]);
    }
    *consumed += t->bits;
    return t;
}

// Every symbol with a length decodes to its own entry, whatever bits follow its code.
void expectEverySymbolDecodes(const std::vector<uint16_t>& lengths, unsigned s, const uint16_t* base,
                              const uint16_t* extra, const HuffmanEntry* root, int width, const std::string& what)
{
    std::vector<uint32_t> codes = canonicalCodes(lengths);
    for (size_t v = 0; v < lengths.size(); v++) {
        if (lengths[v] == 0)
            continue;
        for (uint32_t trailing : {0u, 0xffffu, 0x5555u}) {
            int consumed = 0;
            const HuffmanEntry* t = walk(root, width, codes[v], lengths[v], trailing, &consumed);
            ASSERT_EQ(consumed, lengths[v]) << what << " symbol " << v;
            if (v < s) {
                ASSERT_EQ(t->extra, v < 256 ? HUFFMAN_LITERAL : HUFFMAN_END_OF_BLOCK) << what << " symbol " << v;
                ASSERT_EQ(t->value, v) << what;
            } else {
                ASSERT_EQ(t->extra, extra[v - s]) << what << " symbol " << v;
                ASSERT_EQ(t->value, base[v - s]) << what << " symbol " << v;
            }
        }
    }
}

std::vector<uint16_t> fixedLiteralLengths()
{
    std::vector<uint16_t> l(288);
    for (int i = 0; i < 288; i++)
        l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return l;
}

struct LayoutCase {
    const char* name;
    std::vector<uint16_t> lengths;
    unsigned s;
    const uint16_t* base;
    const uint16_t* extra;
    int requested;
    int result;
    int width;
    std::vector<size_t> blocks; // entries per allocated block, link entry included
};

TEST_F(HuffmanTable, LayoutsOfTheCodesThatMatter)
{
    std::vector<uint16_t> staircase; // distance lengths 1, 2, ... 14, 15, 15
    for (uint16_t k = 1; k <= 15; k++)
        staircase.push_back(k);
    staircase.push_back(15);

    const LayoutCase cases[] = {
        // The root is widened to 256 entries; 8-bit codes sit in 1-bit and 9-bit codes in 2-bit sub-tables.
        {"fixed literal/length", fixedLiteralLengths(), 257, lengthBase, lengthExtra, 7, 0, 7,
         [] {
             std::vector<size_t> b = {257};
             b.insert(b.end(), 76, 3); // 152 eight-bit codes, two under each of 76 prefixes
             b.insert(b.end(), 28, 5); // 112 nine-bit codes, four under each of 28 prefixes
             return b;
         }()},
        {"fixed distance: 30 of 32 five-bit codes", std::vector<uint16_t>(30, 5), 0, distanceBase, distanceExtra, 5, 1, 5,
         {33}},
        {"a single one-bit code", {0, 0, 1}, 19, nullptr, nullptr, 7, 0, 1, {3}},
        {"a single one-bit distance code", {1}, 0, distanceBase, distanceExtra, 6, 0, 1, {3}},
        {"no lengths", std::vector<uint16_t>(19, 0), 19, nullptr, nullptr, 7, 0, 0, {}},
        {"over-subscribed: 1, 1, 2", {1, 1, 2}, 19, nullptr, nullptr, 7, 2, 7, {}},
        {"longest 7 under a requested 9", {1, 2, 3, 4, 5, 6, 7, 7}, 8, nullptr, nullptr, 9, 0, 7, {129}},
        {"shortest 8 under a requested 6", std::vector<uint16_t>(256, 8), 256, nullptr, nullptr, 6, 0, 8, {257}},
        {"three levels: 1, 2, ... 15, 15 under 6", staircase, 0, distanceBase, distanceExtra, 6, 0, 6, {65, 65, 9}},
    };
    for (const LayoutCase& c : cases) {
        allocatedEntries.clear();
        allocatedTables.clear();
        HuffmanEntry* root = reinterpret_cast<HuffmanEntry*>(1);
        int width = c.requested;
        int result = buildHuffmanTable(c.lengths.data(), (unsigned)c.lengths.size(), c.s, c.base, c.extra, &root, &width);
        EXPECT_EQ(result, c.result) << c.name;
        if (result <= 1) {
            EXPECT_EQ(width, c.width) << c.name;
        }
        EXPECT_EQ(allocatedEntries, c.blocks) << c.name;
        if (result >= 2 || c.blocks.empty()) {
            EXPECT_EQ(root, nullptr) << c.name;
            continue;
        }
        // The chain runs through every table in the order of allocation and ends with null.
        EXPECT_EQ(root, allocatedTables[0]) << c.name;
        const HuffmanEntry* t = root;
        for (size_t i = 0; i < allocatedTables.size(); i++) {
            ASSERT_EQ(t, allocatedTables[i]) << c.name << " table " << i;
            t = (t - 1)->table;
        }
        EXPECT_EQ(t, nullptr) << c.name;
        expectEverySymbolDecodes(c.lengths, c.s, c.base, c.extra, root, width, c.name);
        EXPECT_EQ(freeHuffmanTable(root), 0);
    }
}

TEST_F(HuffmanTable, FreePatternsOfAcceptedIncompleteCodesAreInvalid)
{
    struct {
        const char* name;
        std::vector<uint16_t> lengths;
        unsigned s;
        const uint16_t* base;
        const uint16_t* extra;
        int requested;
        std::vector<std::pair<uint32_t, int>> freeCodes; // code, length
    } cases[] = {
        {"fixed distance", std::vector<uint16_t>(30, 5), 0, distanceBase, distanceExtra, 5, {{30, 5}, {31, 5}}},
        {"single one-bit code", {0, 0, 1}, 19, nullptr, nullptr, 7, {{1, 1}}},
    };
    for (const auto& c : cases) {
        HuffmanEntry* root = nullptr;
        int width = c.requested;
        buildHuffmanTable(c.lengths.data(), (unsigned)c.lengths.size(), c.s, c.base, c.extra, &root, &width);
        ASSERT_NE(root, nullptr) << c.name;
        for (auto [code, length] : c.freeCodes) {
            int consumed = 0;
            EXPECT_EQ(walk(root, width, code, length, 0, &consumed)->extra, HUFFMAN_INVALID) << c.name << " code " << code;
        }
        freeHuffmanTable(root);
    }
    // The fixed literal/length symbols 286 and 287 have codes, but their extra-bit count marks them invalid.
    std::vector<uint16_t> lengths = fixedLiteralLengths();
    HuffmanEntry* root = nullptr;
    int width = 7;
    ASSERT_EQ(buildHuffmanTable(lengths.data(), 288, 257, lengthBase, lengthExtra, &root, &width), 0);
    std::vector<uint32_t> codes = canonicalCodes(lengths);
    for (int symbol : {286, 287}) {
        int consumed = 0;
        EXPECT_EQ(walk(root, width, codes[symbol], 8, 0, &consumed)->extra, HUFFMAN_INVALID) << symbol;
    }
    freeHuffmanTable(root);
}

TEST_F(HuffmanTable, RandomCompleteCodesOfEveryDeflateShapeDecodeEverySymbol)
{
    // Complete codes made by splitting leaves at random, seed fixed, in the shapes a deflate stream carries:
    // literal/length (257..286 symbols, lengths up to 15, root 9 bits), distance (1..30 symbols, up to 15,
    // root 6 bits) and code-length codes (19 symbols, up to 7, root 7 bits).
    struct Shape {
        const char* name;
        unsigned minN, maxN, s, maxLength;
        const uint16_t* base;
        const uint16_t* extra;
        int requested;
    } shapes[] = {
        {"literal/length", 257, 286, 257, 15, lengthBase, lengthExtra, 9},
        {"distance", 2, 30, 0, 15, distanceBase, distanceExtra, 6},
        {"code-length", 19, 19, 19, 7, nullptr, nullptr, 7},
    };
    const uint32_t seed = 4242;
    uint32_t x = seed;
    auto next = [&x] {
        x = x * 1103515245u + 12345u;
        return x >> 8;
    };
    for (const Shape& shape : shapes) {
        for (int trial = 0; trial < 300; trial++) {
            unsigned n = shape.minN + next() % (shape.maxN - shape.minN + 1);
            unsigned symbols = 2 + next() % (n - 1);
            std::vector<uint16_t> leaves = {1, 1};
            for (int attempts = 0; leaves.size() < symbols && attempts < 100000; attempts++) {
                size_t i = next() % leaves.size();
                if (leaves[i] >= shape.maxLength)
                    continue;
                leaves[i]++;
                leaves.push_back(leaves[i]);
            }
            std::vector<uint16_t> lengths(n, 0);
            for (uint16_t len : leaves) {
                size_t at = next() % n;
                while (lengths[at] != 0)
                    at = (at + 1) % n;
                lengths[at] = len;
            }
            HuffmanEntry* root = nullptr;
            int width = shape.requested;
            std::string what = std::string(shape.name) + " seed " + std::to_string(seed) + " trial " + std::to_string(trial);
            ASSERT_EQ(buildHuffmanTable(lengths.data(), n, shape.s, shape.base, shape.extra, &root, &width), 0) << what;
            expectEverySymbolDecodes(lengths, shape.s, shape.base, shape.extra, root, width, what);
            freeHuffmanTable(root);
        }
    }
}

TEST_F(HuffmanTable, OutOfMemoryReleasesThePartialChain)
{
    std::vector<uint16_t> staircase;
    for (uint16_t k = 1; k <= 15; k++)
        staircase.push_back(k);
    staircase.push_back(15);
    for (int allowed = 0; allowed < 3; allowed++) {
        allocationsLeft = allowed;
        outOfMemoryCalls = 0;
        HuffmanEntry* root = reinterpret_cast<HuffmanEntry*>(1);
        int width = 6;
        EXPECT_EQ(buildHuffmanTable(staircase.data(), 16, 0, distanceBase, distanceExtra, &root, &width), 3);
        EXPECT_EQ(root, nullptr);
        EXPECT_EQ(outOfMemoryCalls, 1);
        EXPECT_EQ(liveBlocks, 0) << "allowed " << allowed;
    }
}

} // namespace
