// The parameter block and SfxHeader rules: where the header CRC starts, which bytes it covers, and which
// headers count as damaged.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "decode/crc32.h"
#include "startup/payload_format.h"

namespace {

const uint8_t kSignature[8] = SFX_BLOCK_SIGNATURE_BYTES;

// A fake file prefix: DOS header with the PE offset, PE headers, then the block somewhere after them.
struct Prefix {
    std::vector<uint8_t> bytes;
    uint32_t blockAt;
};

Prefix makePrefix(uint32_t peOffset, uint32_t blockAt, uint32_t length)
{
    Prefix p{std::vector<uint8_t>(length), blockAt};
    for (uint32_t i = 0; i < length; i++)
        p.bytes[i] = (uint8_t)(i * 7 + 3);
    p.bytes[0x3C] = (uint8_t)peOffset;
    p.bytes[0x3D] = (uint8_t)(peOffset >> 8);
    p.bytes[0x3E] = p.bytes[0x3F] = 0;
    memcpy(&p.bytes[blockAt], kSignature, 8);
    return p;
}

uint32_t crcOf(const Prefix& p, bool afterHeaders)
{
    uint32_t crc = 0;
    EXPECT_TRUE(computeHeaderCrc(p.bytes.data(), (uint32_t)p.bytes.size(), kSignature, afterHeaders, &crc));
    return crc;
}

class HeaderCrc : public ::testing::Test {
protected:
    void SetUp() override { buildCrcTable(); }
};

TEST_F(HeaderCrc, FullRangeTreatsTheStoredCrcAsZero)
{
    Prefix p = makePrefix(0x80, 0x300, 0x400);
    std::vector<uint8_t> zeroed = p.bytes;
    memset(&zeroed[p.blockAt + 8], 0, 4);
    uint32_t expected = crc32Of(zeroed.data(), zeroed.size());
    EXPECT_EQ(crcOf(p, false), expected);
    // Whatever the stored CRC holds, the result stays the same.
    p.bytes[p.blockAt + 9] ^= 0xFF;
    EXPECT_EQ(crcOf(p, false), expected);
}

TEST_F(HeaderCrc, AfterHeadersStartsAtTheSectionTable)
{
    Prefix p = makePrefix(0x80, 0x300, 0x400);
    std::vector<uint8_t> zeroed = p.bytes;
    memset(&zeroed[p.blockAt + 8], 0, 4);
    uint32_t start = 0x80 + 248;
    EXPECT_EQ(crcOf(p, true), crc32Of(zeroed.data() + start, zeroed.size() - start));
}

TEST_F(HeaderCrc, EveryCheckedByteCountsAndNoOtherDoes)
{
    Prefix p = makePrefix(0x80, 0x300, 0x400);
    uint32_t full = crcOf(p, false), after = crcOf(p, true);
    struct Case {
        uint32_t offset;
        bool changesFull, changesAfter;
    } cases[] = {
        {0x02, true, false},           // DOS stub
        {0x80 + 88, true, false},      // the PE checksum
        {0x80 + 247, true, false},     // last byte of the optional header
        {0x80 + 248, true, true},      // first byte of the section table
        {0x300 + 8, false, false},     // the stored CRC itself
        {0x300 + 11, false, false},
        {0x300 + 12, true, true},      // the archive offset after it
        {0x3FF, true, true},           // last byte before the archive
    };
    for (const Case& c : cases) {
        Prefix q = p;
        q.bytes[c.offset] ^= 0x5A;
        EXPECT_EQ(crcOf(q, false) != full, c.changesFull) << "offset " << c.offset;
        EXPECT_EQ(crcOf(q, true) != after, c.changesAfter) << "offset " << c.offset;
    }
}

TEST_F(HeaderCrc, RefusesWhatItCannotCheck)
{
    uint32_t crc;
    Prefix noBlock = makePrefix(0x80, 0x300, 0x400);
    noBlock.bytes[0x300] = 'X';
    EXPECT_FALSE(computeHeaderCrc(noBlock.bytes.data(), 0x400, kSignature, false, &crc));
    // A signature whose block would run past the checked prefix.
    Prefix cut = makePrefix(0x80, 0x400 - 20, 0x400);
    EXPECT_FALSE(computeHeaderCrc(cut.bytes.data(), 0x400, kSignature, false, &crc));
    // A PE offset that leaves no room for the headers.
    Prefix farPe = makePrefix(0x80, 0x300, 0x400);
    farPe.bytes[0x3D] = 0x7F;
    EXPECT_FALSE(computeHeaderCrc(farPe.bytes.data(), 0x400, kSignature, true, &crc));
    EXPECT_TRUE(computeHeaderCrc(farPe.bytes.data(), 0x400, kSignature, false, &crc));
    EXPECT_FALSE(computeHeaderCrc(noBlock.bytes.data(), 7, kSignature, false, &crc));
}

TEST(BlockSignature, FirstOccurrenceCounts)
{
    std::vector<uint8_t> data(64, 0);
    EXPECT_EQ(findBlockSignature(data.data(), 64, kSignature), -1);
    memcpy(&data[56], kSignature, 8);
    EXPECT_EQ(findBlockSignature(data.data(), 64, kSignature), 56);
    memcpy(&data[10], kSignature, 8);
    EXPECT_EQ(findBlockSignature(data.data(), 64, kSignature), 10);
}

// SfxHeader texts built unit by unit.
std::vector<uint8_t> header(const std::vector<std::u16string>& texts)
{
    std::vector<uint8_t> out;
    for (const auto& t : texts) {
        for (char16_t c : t) {
            out.push_back((uint8_t)c);
            out.push_back((uint8_t)(c >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

TEST(SfxHeader, FiveTextsGoToTheirBuffers)
{
    auto h = header({u"C:\\Doel\\", u"setup.exe /q", u"Welkom", u"Titel", u"-win32 -auto"});
    SfxTexts texts;
    ASSERT_TRUE(parseSfxHeader(h.data(), (uint32_t)h.size(), true, &texts));
    EXPECT_STREQ(texts.targetFolder, L"C:\\Doel\\");
    EXPECT_STREQ(texts.runCommand, L"setup.exe /q");
    EXPECT_STREQ(texts.startupText, L"Welkom");
    EXPECT_STREQ(texts.caption, L"Titel");
    EXPECT_STREQ(texts.infoText, L"-win32 -auto");
    ASSERT_TRUE(parseSfxHeader(h.data(), (uint32_t)h.size(), false, &texts));
    EXPECT_STREQ(texts.caption, L"") << "the caption needs its flag";
}

TEST(SfxHeader, LimitsOfTheBuffers)
{
    struct Case {
        const char* what;
        std::vector<std::u16string> texts;
        bool ok;
    } cases[] = {
        {"all empty", {u"", u"", u"", u"", u""}, true},
        {"folder of 260", {std::u16string(260, u'a'), u"", u"", u"", u""}, true},
        {"folder of 261", {std::u16string(261, u'a'), u"", u"", u"", u""}, false},
        {"message of 513", {u"", u"", std::u16string(513, u'm'), u"", u""}, true},
        {"message of 514", {u"", u"", std::u16string(514, u'm'), u"", u""}, false},
        {"caption of 64", {u"", u"", u"", std::u16string(64, u'c'), u""}, true},
        {"caption of 65", {u"", u"", u"", std::u16string(65, u'c'), u""}, false},
        {"info of 511", {u"", u"", u"", u"", std::u16string(511, u'i')}, true},
        {"info of 512", {u"", u"", u"", u"", std::u16string(512, u'i')}, false},
        {"four texts only", {u"a", u"b", u"c", u"d"}, false},
        {"over 2512 bytes", {u"", std::u16string(1300, u'x'), u"", u"", u""}, false},
        // Text 2 is read only by files that start a program: one too long for its buffer is passed over.
        {"run command of 519", {u"", std::u16string(519, u'r'), u"", u"", u""}, true},
        {"run command of 1200", {u"", std::u16string(1200, u'r'), u"", u"", u""}, true},
    };
    for (const Case& c : cases) {
        auto h = header(c.texts);
        SfxTexts texts;
        EXPECT_EQ(parseSfxHeader(h.data(), (uint32_t)h.size(), true, &texts), c.ok) << c.what;
        if (!c.ok) {
            EXPECT_STREQ(texts.targetFolder, L"") << c.what;
        }
        EXPECT_EQ(wcslen(texts.runCommand), c.ok && c.texts[1].size() < RUN_COMMAND_UNITS ? c.texts[1].size() : 0u)
            << c.what;
    }
}

TEST(SfxHeader, FifthTerminatorMissingAtTheEnd)
{
    auto h = header({u"a", u"b", u"c", u"d", u"info"});
    SfxTexts texts;
    EXPECT_FALSE(parseSfxHeader(h.data(), (uint32_t)h.size() - 2, true, &texts));
    EXPECT_FALSE(parseSfxHeader(h.data(), (uint32_t)h.size() - 1, true, &texts)) << "odd length cuts it";
    h.push_back(0); // padding after the fifth terminator is harmless
    EXPECT_TRUE(parseSfxHeader(h.data(), (uint32_t)h.size(), true, &texts));
}

} // namespace
