// The inflate decoder: zlib's deflate output over varied data and every strategy decodes to the same bytes
// with the same flushes; hand-made streams reach each result code and the rules at the edges (empty codes,
// repeats, the window shared by entries, input that runs out, non-local exit from a flush).
#include <gtest/gtest.h>
#include <setjmp.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "decode/huffman.h"
#include "decode/inflate.h"
#include "decode_test_support.h"

using namespace decodetest;

namespace {

std::string outputText(const InflateRun& run)
{
    std::vector<uint8_t> out = run.output();
    return std::string(out.begin(), out.end());
}

std::vector<uint8_t> readFileBytes(const char* path, size_t limit)
{
    std::vector<uint8_t> v;
    FILE* f = fopen(path, "rb");
    if (!f)
        return v;
    v.resize(limit);
    v.resize(fread(v.data(), 1, limit, f));
    fclose(f);
    return v;
}

std::vector<uint8_t> textSample()
{
    std::string s;
    static const char* words[] = {"archive", "entry", "window", "folder", "the", "of", "and", "decode",
                                  "header",  "check", "disk",   "stub",   "a",   "to", "is",  "volume"};
    uint32_t x = 7;
    while (s.size() < 150000) {
        x = x * 1103515245u + 12345u;
        s += words[(x >> 16) % 16];
        s += ((x >> 8) % 11 == 0) ? ".\n" : " ";
    }
    return std::vector<uint8_t>(s.begin(), s.end());
}

struct Sample {
    const char* name;
    std::vector<uint8_t> data;
};

std::vector<Sample> samples()
{
    std::vector<Sample> s;
    s.push_back({"text", textSample()});
    s.push_back({"own executable", readFileBytes("/proc/self/exe", 400000)});
    s.push_back({"random", patternBytes(70000, 99)});
    std::vector<uint8_t> runs;
    for (int i = 0; i < 300; i++)
        runs.insert(runs.end(), (size_t)(i * 37 % 700), (uint8_t)(i % 3));
    s.push_back({"runs", runs});
    s.push_back({"empty", {}});
    s.push_back({"one byte", {0x41}});
    std::vector<uint8_t> threeWindows = textSample();
    threeWindows.resize(3 * 32768);
    s.push_back({"three windows exactly", threeWindows});
    return s;
}

// Checks one run against the expected bytes: result 0, every flush exactly 2048 bytes, the rest left over.
void expectDecoded(const InflateRun& run, const std::vector<uint8_t>& expected, const std::string& what)
{
    ASSERT_EQ(run.result, 0) << what;
    EXPECT_EQ(run.output().size(), expected.size()) << what;
    EXPECT_TRUE(run.output() == expected) << what;
    EXPECT_EQ(run.flushSizes.size(), expected.size() / 2048) << what;
    for (uint32_t size : run.flushSizes)
        ASSERT_EQ(size, 2048u) << what;
    EXPECT_EQ(run.leftover.size(), expected.size() % 2048) << what;
}

TEST(Inflate, DecodesZlibOutputForEveryLevelAndStrategy)
{
    struct Strategy {
        const char* name;
        int value;
    } strategies[] = {{"default", Z_DEFAULT_STRATEGY}, {"filtered", Z_FILTERED}, {"huffman-only", Z_HUFFMAN_ONLY},
                      {"rle", Z_RLE},                  {"fixed", Z_FIXED}};
    for (const Sample& sample : samples()) {
        for (const Strategy& strategy : strategies) {
            for (int level = 0; level <= 9; level++) {
                if (level == 0 && strategy.value != Z_DEFAULT_STRATEGY)
                    continue;
                std::vector<uint8_t> stream = zlibDeflate(sample.data, level, strategy.value);
                ASSERT_FALSE(stream.empty());
                freshWindow();
                expectDecoded(runInflate(stream), sample.data,
                              std::string(sample.name) + " " + strategy.name + " level " + std::to_string(level));
            }
        }
    }
}

TEST(Inflate, PieceSizesDoNotChangeTheResult)
{
    // Pieces of 1 and 7 bytes keep the decoder on its byte-at-a-time path and cross every piece edge.
    std::vector<uint8_t> data = textSample();
    data.resize(60000);
    for (int level : {1, 6, 9}) {
        std::vector<uint8_t> stream = zlibDeflate(data, level);
        for (size_t piece : {1, 7, 9, 2048, 65536}) {
            freshWindow();
            expectDecoded(runInflate(stream, piece), data,
                          "level " + std::to_string(level) + " piece " + std::to_string(piece));
        }
    }
}

TEST(Inflate, MatchesCrossBlockBoundaries)
{
    // zlib with a full flush between halves starts new blocks, but a sync flush keeps the history, so the
    // second half's matches reach into the first half's blocks.
    std::vector<uint8_t> data = textSample();
    data.resize(50000);
    z_stream z;
    memset(&z, 0, sizeof z);
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> stream(100000);
    z.next_out = stream.data();
    z.avail_out = (uInt)stream.size();
    for (size_t at = 0; at < data.size(); at += 5000) {
        z.next_in = data.data() + at;
        z.avail_in = 5000;
        ASSERT_EQ(deflate(&z, at + 5000 < data.size() ? Z_SYNC_FLUSH : Z_FINISH), at + 5000 < data.size() ? Z_OK : Z_STREAM_END);
    }
    stream.resize(z.total_out);
    deflateEnd(&z);
    freshWindow();
    expectDecoded(runInflate(stream), data, "sync-flushed stream");
}

// ---- Hand-made streams ----


struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
    explicit Code(std::vector<int> l) : lengths(std::move(l)), codes(canonicalCodes(lengths)) {}
    void put(BitWriter& w, unsigned symbol) const { w.code(codes[symbol], lengths[symbol]); }
};

// A complete code-length code: symbols 0..9 and 16..18 get 4 bits, 10..15 get 5 bits.
const Code& codeLengthCode()
{
    static const Code c([] {
        std::vector<int> l(19, 4);
        for (int s = 10; s <= 15; s++)
            l[s] = 5;
        return l;
    }());
    return c;
}

// One code-length instruction: a length 0..15, or 16/17/18 with its repeat count.
struct Step {
    int symbol;
    int repeat;
};

// Writes a dynamic block header: the code-length code `cl`, then the instructions.
void dynamicHeader(BitWriter& w, bool final, int nl, int nd, const Code& cl, const std::vector<Step>& steps)
{
    w.bits(final, 1).bits(2, 2).bits(nl - 257, 5).bits(nd - 1, 5).bits(19 - 4, 4);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (int j = 0; j < 19; j++)
        w.bits(cl.lengths[order[j]], 3);
    for (const Step& s : steps) {
        cl.put(w, s.symbol);
        if (s.symbol == 16)
            w.bits(s.repeat - 3, 2);
        else if (s.symbol == 17)
            w.bits(s.repeat - 3, 3);
        else if (s.symbol == 18)
            w.bits(s.repeat - 11, 7);
    }
}

// Instructions that give `lengths` plainly: zero runs as 17/18, everything else one by one.
std::vector<Step> plainSteps(const std::vector<int>& lengths)
{
    std::vector<Step> steps;
    for (size_t i = 0; i < lengths.size();) {
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0)
            run++;
        if (run >= 11) {
            size_t r = run > 138 ? 138 : run;
            steps.push_back({18, (int)r});
            i += r;
        } else if (run >= 3) {
            steps.push_back({17, (int)run});
            i += run;
        } else {
            steps.push_back({lengths[i], 0});
            i++;
        }
    }
    return steps;
}

std::vector<int> litLengths(int nl, std::initializer_list<std::pair<int, int>> symbolLengths)
{
    std::vector<int> l(nl, 0);
    for (auto [symbol, length] : symbolLengths)
        l[symbol] = length;
    return l;
}

std::vector<int> concat(std::vector<int> a, const std::vector<int>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

BitWriter fixedHeader(bool final)
{
    BitWriter w;
    w.bits(final, 1).bits(1, 2);
    return w;
}

BitWriter storedBlock(BitWriter w, bool final, const std::string& data, uint16_t nlen)
{
    w.bits(final, 1).bits(0, 2).alignToByte().bits((uint32_t)data.size(), 16).bits(nlen, 16);
    for (char c : data)
        w.byte((uint8_t)c);
    return w;
}

struct StreamCase {
    const char* name;
    std::function<std::vector<uint8_t>()> build;
    int result;
    std::string output; // checked when result is 0
};

std::vector<StreamCase> streamCases()
{
    // A literal/length code with 'a', 'b', end of block and length symbol 257 (length 3), all two bits long.
    const std::vector<int> abLit = litLengths(258, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}});
    const Code abCode(abLit);
    return {
        {"stored block with LEN 0 and NLEN 0xffff", [] { return storedBlock(BitWriter(), true, "", 0xffff).bytes(); }, 0, ""},
        {"stored block", [] { return storedBlock(BitWriter(), true, "abc", 0xfffc).bytes(); }, 0, "abc"},
        {"stored NLEN not the complement of LEN", [] { return storedBlock(BitWriter(), true, "abc", 0xfffd).bytes(); }, 1, ""},
        {"block type 3", [] { return BitWriter().bits(1, 1).bits(3, 2).bytes(); }, 2, ""},
        {"fixed block", [] { return fixedHeader(true).fixedLiteral('h').fixedLiteral('i').fixedLiteral(256).bytes(); }, 0, "hi"},
        {"fixed literal/length symbol 286", [] { return fixedHeader(true).fixedLiteral('a').fixedLiteral(286).bytes(); }, 1, ""},
        {"fixed literal/length symbol 287", [] { return fixedHeader(true).fixedLiteral(287).bytes(); }, 1, ""},
        {"fixed distance symbol 30", [] { return fixedHeader(true).fixedLiteral('a').fixedLiteral(257).fixedDistance(30).bytes(); }, 1, ""},
        {"fixed distance symbol 31", [] { return fixedHeader(true).fixedLiteral('a').fixedLiteral(257).fixedDistance(31).bytes(); }, 1, ""},
        {"length 258 at distance 1 repeats the previous byte",
         [] { return fixedHeader(true).fixedLiteral('x').fixedLiteral(285).fixedDistance(0).fixedLiteral(256).bytes(); },
         0, std::string(259, 'x')},
        {"overlapping match repeats a pattern (length 10, distance 3)",
         [] {
             BitWriter w = fixedHeader(true);
             w.fixedLiteral('a').fixedLiteral('b').fixedLiteral('c');
             w.fixedLiteral(264).fixedDistance(2); // length 10, distance 3
             return w.fixedLiteral(256).bytes();
         },
         0, "abcabcabcabca"},
        {"stored then fixed: a match reaches into the stored block",
         [] {
             BitWriter w = storedBlock(BitWriter(), false, "0123456789", 0xfff5);
             w.bits(1, 1).bits(1, 2).fixedLiteral(261).fixedDistance(6).bits(1, 2); // length 7, distance 10
             return w.fixedLiteral(256).bytes();
         },
         0, "01234567890123456"},
        {"dynamic HLIT 30", [] { return BitWriter().bits(1, 1).bits(2, 2).bits(30, 5).bits(0, 5).bits(0, 4).bytes(); }, 1, ""},
        {"dynamic HLIT 31", [] { return BitWriter().bits(1, 1).bits(2, 2).bits(31, 5).bits(0, 5).bits(0, 4).bytes(); }, 1, ""},
        {"dynamic HDIST 30", [] { return BitWriter().bits(1, 1).bits(2, 2).bits(0, 5).bits(30, 5).bits(0, 4).bytes(); }, 1, ""},
        {"dynamic HDIST 31", [] { return BitWriter().bits(1, 1).bits(2, 2).bits(0, 5).bits(31, 5).bits(0, 4).bytes(); }, 1, ""},
        {"dynamic block with a single one-bit distance code",
         [=] {
             BitWriter w;
             dynamicHeader(w, true, 258, 1, codeLengthCode(), plainSteps(concat(abLit, {1})));
             abCode.put(w, 'a');
             abCode.put(w, 257);
             w.code(0, 1); // distance symbol 0: distance 1
             abCode.put(w, 256);
             return w.bytes();
         },
         0, "aaaa"},
        {"literals only, with an empty distance code",
         [=] {
             BitWriter w;
             dynamicHeader(w, true, 258, 1, codeLengthCode(), plainSteps(concat(abLit, {0})));
             abCode.put(w, 'a');
             abCode.put(w, 'b');
             abCode.put(w, 256);
             return w.bytes();
         },
         0, "ab"},
        {"a length in a block whose distance code is empty",
         [=] {
             BitWriter w;
             dynamicHeader(w, true, 258, 1, codeLengthCode(), plainSteps(concat(abLit, {0})));
             abCode.put(w, 'a');
             abCode.put(w, 257);
             w.code(0, 1);
             abCode.put(w, 256);
             return w.bytes();
         },
         1, ""},
        {"code-length symbol 16 first repeats length 0",
         [=] {
             std::vector<Step> steps = {{16, 6}}; // symbols 0..5
             std::vector<Step> rest = plainSteps(std::vector<int>(abLit.begin() + 6, abLit.end()));
             steps.insert(steps.end(), rest.begin(), rest.end());
             steps.push_back({0, 0}); // the distance length
             BitWriter w;
             dynamicHeader(w, true, 258, 1, codeLengthCode(), steps);
             abCode.put(w, 'b');
             abCode.put(w, 256);
             return w.bytes();
         },
         0, "b"},
        {"a 16 after a 17 repeats 0, not the length before the 17",
         [] {
             // Symbols 0, 10, 256 and 257 get two bits; a 16 that repeated 2 would over-subscribe the code.
             std::vector<int> lit = litLengths(258, {{0, 2}, {10, 2}, {256, 2}, {257, 2}});
             std::vector<Step> steps = {{2, 0}, {17, 3}, {16, 6}, {2, 0}};
             std::vector<Step> rest = plainSteps(std::vector<int>(lit.begin() + 11, lit.end()));
             steps.insert(steps.end(), rest.begin(), rest.end());
             steps.push_back({0, 0});
             BitWriter w;
             dynamicHeader(w, true, 258, 1, codeLengthCode(), steps);
             Code c(lit);
             c.put(w, 0);
             c.put(w, 10);
             c.put(w, 256);
             return w.bytes();
         },
         0, std::string("\0\n", 2)},
        {"a repeat that crosses from literal/length into distance lengths",
         [] {
             // 'a' one bit; 256 and 257 two bits; four distance codes of two bits. The 16 after 256's length
             // fills 257 and the four distance lengths.
             std::vector<int> lit = litLengths(258, {{'a', 1}, {256, 2}, {257, 2}});
             std::vector<Step> steps = plainSteps(std::vector<int>(lit.begin(), lit.begin() + 257));
             steps.push_back({16, 5});
             BitWriter w;
             dynamicHeader(w, true, 258, 4, codeLengthCode(), steps);
             Code c(lit);
             c.put(w, 'a');
             c.put(w, 257);
             w.code(0, 2); // distance symbol 0: distance 1
             c.put(w, 256);
             return w.bytes();
         },
         0, "aaaa"},
        {"a repeat that runs past the last length",
         [=] {
             std::vector<Step> steps = plainSteps(abLit);
             steps.push_back({17, 3}); // only one distance length is left
             BitWriter w;
             dynamicHeader(w, true, 258, 1, codeLengthCode(), steps);
             return w.bytes();
         },
         1, ""},
        {"all code-length code lengths zero",
         [] { return BitWriter().bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(0, 4).bits(0, 12).bytes(); }, 1, ""},
        {"over-subscribed code-length code",
         [] {
             BitWriter w;
             w.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(19 - 4, 4);
             for (int j = 0; j < 19; j++)
                 w.bits(1, 3); // nineteen one-bit codes
             return w.bytes();
         },
         2, ""},
        {"the free pattern of a one-bit code-length code",
         [] {
             // Code-length code: symbol 2 alone, one bit (pattern 0). Pattern 1 has no symbol. Were it taken as
             // length 0, this would be a valid block: symbols 254..257 two bits long, decoding 254.
             std::vector<int> cl(19, 0);
             cl[2] = 1;
             BitWriter w;
             w.bits(1, 1).bits(2, 2).bits(1, 5).bits(0, 5).bits(15, 4);
             static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
             for (int j = 0; j < 19; j++)
                 w.bits(cl[order[j]], 3);
             for (int i = 0; i < 254; i++)
                 w.bits(1, 1);
             for (int i = 0; i < 4; i++)
                 w.bits(0, 1);
             w.bits(1, 1); // distance length
             w.code(0, 2).code(2, 2); // 254, end of block
             return w.bytes();
         },
         1, ""},
        {"empty literal/length code",
         [] {
             BitWriter w;
             dynamicHeader(w, true, 257, 1, codeLengthCode(), plainSteps(std::vector<int>(258, 0)));
             return w.bytes();
         },
         1, ""},
        {"incomplete literal/length code",
         [] {
             BitWriter w;
             dynamicHeader(w, true, 257, 1, codeLengthCode(),
                           plainSteps(concat(litLengths(257, {{'a', 2}, {256, 2}}), {1})));
             return w.bytes();
         },
         1, ""},
        {"over-subscribed literal/length code",
         [] {
             BitWriter w;
             dynamicHeader(w, true, 257, 1, codeLengthCode(),
                           plainSteps(concat(litLengths(257, {{'a', 1}, {'b', 1}, {256, 1}}), {1})));
             return w.bytes();
         },
         2, ""},
        {"incomplete distance code (two bits, one code)",
         [=] {
             BitWriter w;
             dynamicHeader(w, true, 258, 1, codeLengthCode(), plainSteps(concat(abLit, {2})));
             return w.bytes();
         },
         1, ""},
    };
}

TEST(Inflate, HandMadeStreams)
{
    for (const StreamCase& c : streamCases()) {
        freshWindow();
        InflateRun run = runInflate(c.build());
        EXPECT_EQ(run.result, c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(outputText(run), c.output) << c.name;
        }
    }
}

TEST(Inflate, ZlibRefusesNoneOfTheGoodHandMadeStreams)
{
    // Control: the streams that must decode are valid deflate for zlib too, except those that rely on rules
    // zlib is stricter about (a first 16; a one-bit code-length code).
    for (const StreamCase& c : streamCases()) {
        if (c.result != 0 || std::string(c.name).find("16 first") != std::string::npos)
            continue;
        std::vector<uint8_t> out;
        EXPECT_TRUE(zlibInflate(c.build(), &out, 1000)) << c.name;
        EXPECT_EQ(std::string(out.begin(), out.end()), c.output) << c.name;
    }
}

TEST(Inflate, ALastShortCodeInTheLastByteDecodesWhateverFollows)
{
    // End of block is one bit long while the literal/length root is 9 bits wide: the decoder looks past the
    // end of the data for that lookup, but consumes only real bits.
    std::vector<int> lit = litLengths(257, {{256, 1}, {'a', 2}, {'b', 3}, {'c', 4}, {'d', 5}, {'e', 6}, {'f', 7},
                                            {'g', 8}, {'h', 9}, {'i', 9}});
    Code c(lit);
    for (int pad = 0; pad < 8; pad++) {
        BitWriter w;
        dynamicHeader(w, true, 257, 1, codeLengthCode(), plainSteps(concat(lit, {0})));
        std::string expected;
        // 'h' takes 9 bits: add it until the one-bit end of block falls on the last bit of a byte.
        while ((int)expected.size() < pad || (w.bitCount() + 1) % 8 != 0) {
            c.put(w, 'h');
            expected += 'h';
        }
        c.put(w, 256);
        std::vector<uint8_t> stream = w.bytes();
        for (uint16_t previous : {0x00, 0xff, 0x5a}) {
            freshWindow();
            lastByte = previous;
            InflateRun run = runInflate(stream);
            EXPECT_EQ(run.result, 0) << "pad " << pad;
            EXPECT_EQ(outputText(run), expected);
        }
    }
}

TEST(Inflate, OutputOfExactWindowMultiplesIsFlushedOnce)
{
    for (size_t size : {32768u, 65536u, 32767u, 32769u}) {
        std::vector<uint8_t> data = textSample();
        data.resize(size);
        freshWindow();
        InflateRun run = runInflate(zlibDeflate(data, 6));
        expectDecoded(run, data, "size " + std::to_string(size));
    }
}

TEST(Inflate, AnErrorLeavesTheUnflushedWindowUnwritten)
{
    // A stored block of 32768 + 100 bytes, then a fixed block with the invalid symbol 286: only the first
    // full window reaches the output.
    std::vector<uint8_t> data = patternBytes(32868, 5);
    BitWriter w;
    w.bits(0, 1).bits(0, 2).alignToByte().bits(32868, 16).bits(~32868u & 0xffff, 16);
    for (uint8_t b : data)
        w.byte(b);
    w.bits(1, 1).bits(1, 2).fixedLiteral(286);
    freshWindow();
    InflateRun run = runInflate(w.bytes());
    EXPECT_EQ(run.result, 1);
    ASSERT_EQ(run.flushed.size(), 32768u);
    EXPECT_TRUE(std::equal(run.flushed.begin(), run.flushed.end(), data.begin()));
    EXPECT_TRUE(run.leftover.empty());
}

TEST(Inflate, TheWindowCarriesOverFromEntryToEntry)
{
    freshWindow();
    // First entry of a fresh process: distance 5 from position 1 reaches the zero-filled window.
    InflateRun first = runInflate(
        fixedHeader(true).fixedLiteral('X').fixedLiteral(257).fixedDistance(4).bits(0, 1).fixedLiteral(256).bytes());
    ASSERT_EQ(first.result, 0);
    EXPECT_EQ(outputText(first), std::string("X\0\0\0", 4));

    InflateRun stored = runInflate(storedBlock(BitWriter(), true, "0123456789abcdef", 0xffef).bytes());
    ASSERT_EQ(stored.result, 0);
    // Next entry: after one literal, distance 32767 reads the stored entry's byte at window position 2.
    BitWriter w = fixedHeader(true).fixedLiteral('X').fixedLiteral(258).fixedDistance(29).bits(32767 - 24577, 13);
    InflateRun next = runInflate(w.fixedLiteral(256).bytes());
    ASSERT_EQ(next.result, 0);
    EXPECT_EQ(outputText(next), "X2345");
}

TEST(Inflate, InputThatRunsOutEndsWithinBoundedWork)
{
    // Every one- and two-byte input (and cut-off real streams) ends: past the data the decoder sees the last
    // byte again and again, and stops once it consumes such bits.
    for (int b = 0; b < 256; b++) {
        for (size_t copies : {1, 2}) {
            freshWindow();
            std::vector<uint8_t> input(copies, (uint8_t)b);
            InflateRun run = runInflate(input);
            EXPECT_LE(run.output().size(), 1024u) << "byte " << b;
            EXPECT_LE(run.readCalls, 2u) << "byte " << b;
        }
    }
    std::vector<uint8_t> data = textSample();
    data.resize(20000);
    std::vector<uint8_t> stream = zlibDeflate(data, 6);
    for (size_t cut = 0; cut < stream.size(); cut += 97) {
        freshWindow();
        InflateRun run = runInflate(std::vector<uint8_t>(stream.begin(), stream.begin() + cut));
        EXPECT_NE(run.result, 0) << "cut at " << cut;
    }
}

TEST(Inflate, TellsHowManyFetchedBytesTheStreamLeftUnused)
{
    // The stub takes an entry whose data goes on after its stream for damage: the bytes delivered minus
    // those left unused must be the stream's own length (zlib's output, which ends with the byte holding
    // the last bit), whichever path decoded the end (fast loop, careful step, stored copy) and wherever
    // the pieces end.
    std::vector<uint8_t> text = textSample();
    text.resize(40000);
    struct Stream {
        const char* name;
        std::vector<uint8_t> bytes;
        std::vector<uint8_t> decoded;
    } streams[] = {
        {"level 1", zlibDeflate(text, 1), text},
        {"level 9", zlibDeflate(text, 9), text},
        {"stored blocks (level 0)", zlibDeflate(text, 0), text},
        {"fixed codes", zlibDeflate(text, 9, Z_FIXED), text},
        {"one literal", zlibDeflate({'x'}, 6), {'x'}},
        {"empty fixed block", {0x03, 0x00}, {}},
    };
    const std::vector<uint8_t> trailing = patternBytes(3000, 11);
    for (const Stream& s : streams) {
        ASSERT_FALSE(s.bytes.empty()) << s.name;
        for (size_t extra : {0, 1, 7, 3000}) {
            std::vector<uint8_t> input = s.bytes;
            input.insert(input.end(), trailing.begin(), trailing.begin() + extra);
            for (size_t piece : {1, 7, 2048, 65536}) {
                std::string what = std::string(s.name) + ", " + std::to_string(extra) + " bytes after it, pieces of "
                                   + std::to_string(piece);
                freshWindow();
                InflateRun run = runInflate(input, piece);
                ASSERT_EQ(run.result, 0) << what;
                EXPECT_TRUE(run.output() == s.decoded) << what;
                EXPECT_EQ(run.delivered - run.unused, s.bytes.size())
                    << what << ": delivered " << run.delivered << ", unused " << run.unused;
            }
        }
    }
}

TEST(Inflate, AnEmptyEntryDecodesTheLastByteOfThePreviousOne)
{
    struct {
        uint16_t previous;
        int result;
    } cases[] = {
        {0x07, 2}, // final, type 3
        {0x00, 1}, // stored blocks of invented bytes: consumed past the end
        {0x03, 1}, // a final fixed block: its first code would come from invented bits
    };
    for (auto c : cases) {
        freshWindow();
        lastByte = c.previous;
        EXPECT_EQ(runInflate({}).result, c.result) << "previous byte " << c.previous;
    }
}

TEST(Inflate, DamagedStreamsDecodeLikeZlibWheneverZlibSucceeds)
{
    // Flipped bits in real streams, seed fixed: whenever zlib decodes to the end, so must this decoder.
    const uint32_t seed = 20240601;
    std::vector<uint8_t> data = textSample();
    data.resize(5000);
    std::vector<uint8_t> good = zlibDeflate(data, 6);
    uint32_t x = seed;
    int agreed = 0;
    for (int trial = 0; trial < 3000; trial++) {
        std::vector<uint8_t> stream = good;
        for (int flips = 0; flips < 1 + trial % 3; flips++) {
            x = x * 1103515245u + 12345u;
            stream[(x >> 8) % stream.size()] ^= (uint8_t)(1u << ((x >> 4) & 7));
        }
        std::vector<uint8_t> expected;
        bool zlibDone = zlibInflate(stream, &expected, 1 << 20);
        freshWindow();
        InflateRun run = runInflate(stream);
        if (zlibDone) {
            agreed++;
            ASSERT_EQ(run.result, 0) << "seed " << seed << " trial " << trial;
            ASSERT_TRUE(run.output() == expected) << "seed " << seed << " trial " << trial;
        }
    }
    EXPECT_GT(agreed, 0);
}

// ---- Leaving through a flush, and running out of memory ----

int liveBlocks;
void* countingAllocate(size_t bytes)
{
    liveBlocks++;
    return calloc(1, bytes);
}
void countingRelease(void* block)
{
    liveBlocks--;
    free(block);
}

struct CountBlocks {
    CountBlocks()
    {
        liveBlocks = 0;
        huffmanAllocate = countingAllocate;
        huffmanRelease = countingRelease;
    }
    ~CountBlocks()
    {
        huffmanAllocate = [](size_t bytes) -> void* { return calloc(1, bytes); };
        huffmanRelease = free;
    }
};

jmp_buf unwindPoint;
int flushesBeforeUnwind;
void flushThenUnwind()
{
    inflateIo.outputCount = 0;
    if (--flushesBeforeUnwind == 0)
        longjmp(unwindPoint, 1);
}

TEST(Inflate, LeavingThroughAFlushLeavesNoTables)
{
    CountBlocks counting;
    std::vector<uint8_t> data = textSample();
    std::vector<uint8_t> stream = zlibDeflate(data, 9);
    InflateRun run;
    freshWindow();
    plugHarness(stream, 2048, &run);
    inflateIo.flushOutputBuffer = flushThenUnwind;
    flushesBeforeUnwind = 20;
    if (setjmp(unwindPoint) == 0) {
        inflate();
        FAIL() << "the flush did not unwind";
    }
    EXPECT_GT(liveBlocks, 0); // the block's tables were in use
    releaseDecoderTables();
    EXPECT_EQ(liveBlocks, 0);

    // The next entry starts clean.
    freshWindow();
    expectDecoded(runInflate(stream), data, "after an unwind");
    EXPECT_EQ(liveBlocks, 0);
}

int allocationsLeft;
int outOfMemoryCalls;
void* failingAllocate(size_t bytes)
{
    if (allocationsLeft-- <= 0)
        return nullptr;
    return countingAllocate(bytes);
}

TEST(Inflate, OutOfMemoryReleasesWhatWasBuilt)
{
    CountBlocks counting;
    huffmanAllocate = failingAllocate;
    huffmanOutOfMemory = [] { outOfMemoryCalls++; };
    std::vector<uint8_t> data = textSample();
    data.resize(3000);
    for (int level : {1, 9}) {
        std::vector<uint8_t> stream = zlibDeflate(data, level);
        for (int allowed = 0; allowed < 12; allowed++) {
            allocationsLeft = allowed;
            outOfMemoryCalls = 0;
            freshWindow();
            InflateRun run = runInflate(stream);
            EXPECT_EQ(liveBlocks, 0) << "allowed " << allowed;
            if (run.result == 3) {
                EXPECT_EQ(outOfMemoryCalls, 1);
            } else {
                EXPECT_EQ(run.result, 0) << "allowed " << allowed;
            }
        }
    }
    huffmanOutOfMemory = nullptr;
}

} // namespace
