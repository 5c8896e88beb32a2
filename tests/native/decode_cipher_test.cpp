// CRC-32 against zlib, and the traditional ZIP cipher against archives that independent producers encrypt at
// test time (Info-ZIP zip, 7-Zip; a streamed entry): the check byte rule, the decrypted bytes, and the
// decoded contents of stored and deflated entries.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "decode/cipher.h"
#include "decode/crc32.h"
#include "decode/inflate.h"
#include "decode_test_support.h"

using namespace decodetest;

namespace {

TEST(Crc32, MatchesZlibForEveryLengthAndAlignment)
{
    buildCrcTable();
    std::vector<uint8_t> data = patternBytes(70000, 3);
    for (size_t offset = 0; offset < 8; offset++) {
        for (size_t n = 0; n < 300; n++) {
            uint32_t expected = (uint32_t)crc32(0, data.data() + offset, (uInt)n);
            ASSERT_EQ(crc32Of(data.data() + offset, n), expected) << "offset " << offset << " length " << n;
        }
    }
    // Long runs, around the sizes where the register is computed in parallel lanes.
    for (size_t n : {2039, 2040, 2041, 2047, 2048, 4079, 4080, 4088, 4095, 69990}) {
        for (size_t offset : {0, 3}) {
            uint32_t expected = (uint32_t)crc32(0, data.data() + offset, (uInt)n);
            ASSERT_EQ(crc32Of(data.data() + offset, n), expected) << "offset " << offset << " length " << n;
        }
    }
    // Running the register over pieces gives the CRC of the whole.
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t at = 0; at < data.size(); at += 2048)
        reg = crcRegisterUpdate(reg, data.data() + at, std::min<size_t>(2048, data.size() - at));
    EXPECT_EQ(~reg, (uint32_t)crc32(0, data.data(), (uInt)data.size()));
    EXPECT_EQ(crcTable[1], 0x77073096u);
    EXPECT_EQ(crcTable[255], 0x2D02EF8Du);
}

TEST(Cipher, CheckByteComesFromTheTimeWhenADescriptorFollows)
{
    struct {
        uint16_t flags;
        uint32_t crc;
        uint16_t time;
        uint8_t expected;
    } cases[] = {
        {0x0001, 0xA1B2C3D4, 0x7788, 0xA1}, // CRC high byte
        {0x0009, 0xA1B2C3D4, 0x7788, 0x77}, // bit 3: time high byte, although the CRC field is filled in
        {0x0009, 0x00000000, 0x7788, 0x77},
        {0x0808, 0xA1B2C3D4, 0x1234, 0x12},
    };
    for (auto c : cases)
        EXPECT_EQ(encryptionCheckByte(c.flags, c.crc, c.time), c.expected) << "flags " << c.flags;
}

TEST(Cipher, KeysStartFixedAndEncryptionInvertsDecryption)
{
    buildCrcTable();
    initKeys("");
    EXPECT_EQ(key0, 0x12345678u);
    EXPECT_EQ(key1, 0x23456789u);
    EXPECT_EQ(key2, 0x34567890u);

    std::vector<uint8_t> plain = patternBytes(5000, 11);
    std::vector<uint8_t> data = plain;
    initKeys("secret");
    encryptBuffer(data.data(), (uint32_t)data.size());
    EXPECT_NE(data, plain);
    initKeys("secret");
    decryptBuffer(data.data(), 1234);
    decryptBuffer(data.data() + 1234, (uint32_t)data.size() - 1234); // the key state runs on across pieces
    EXPECT_EQ(data, plain);
}

// ---- Archives from independent producers ----

struct Entry {
    std::string name;
    uint16_t localFlags, method, localTime;
    uint32_t localCrc, centralCrc;
    std::vector<uint8_t> data; // the entry's data, encryption header included
};

uint16_t le16(const std::vector<uint8_t>& b, size_t at)
{
    return (uint16_t)(b.at(at) | (b.at(at + 1) << 8));
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return le16(b, at) | ((uint32_t)le16(b, at + 2) << 16);
}

// Minimal reader: end record -> central directory (sizes, CRC) -> local header (flags, time, CRC, data).
std::vector<Entry> readZip(const std::vector<uint8_t>& zip)
{
    std::vector<Entry> entries;
    if (zip.size() < 22)
        return entries;
    size_t end = zip.size() - 22;
    while (end > 0 && le32(zip, end) != 0x06054b50)
        end--;
    if (le32(zip, end) != 0x06054b50)
        return entries;
    size_t count = le16(zip, end + 10);
    size_t at = le32(zip, end + 16);
    for (size_t i = 0; i < count && le32(zip, at) == 0x02014b50; i++) {
        Entry e;
        uint32_t compressedSize = le32(zip, at + 20);
        size_t nameLength = le16(zip, at + 28);
        e.centralCrc = le32(zip, at + 16);
        e.name.assign(zip.begin() + at + 46, zip.begin() + at + 46 + nameLength);
        size_t local = le32(zip, at + 42);
        e.localFlags = le16(zip, local + 6);
        e.method = le16(zip, local + 8);
        e.localTime = le16(zip, local + 10);
        e.localCrc = le32(zip, local + 14);
        size_t data = local + 30 + le16(zip, local + 26) + le16(zip, local + 28);
        e.data.assign(zip.begin() + data, zip.begin() + data + compressedSize);
        entries.push_back(e);
        at += 46 + nameLength + le16(zip, at + 30) + le16(zip, at + 32);
    }
    return entries;
}

std::vector<uint8_t> readWhole(const std::string& path)
{
    std::vector<uint8_t> v;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return v;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        v.insert(v.end(), buf, buf + n);
    fclose(f);
    return v;
}

void writeWhole(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool haveTool(const char* name)
{
    return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Decrypts an entry with `password`; true when the check byte matches. *plain receives the entry's bytes
// (decoded when deflated).
bool decryptEntry(const Entry& e, const char* password, std::vector<uint8_t>* plain, int* inflateResult)
{
    std::vector<uint8_t> data = e.data;
    if (data.size() < 12)
        return false;
    initKeys(password);
    decryptBuffer(data.data(), (uint32_t)data.size());
    bool checkMatches = data[11] == encryptionCheckByte(e.localFlags, e.localCrc, e.localTime);
    std::vector<uint8_t> body(data.begin() + 12, data.end());
    *inflateResult = 0;
    if (e.method == 8) {
        InflateRun run = runInflate(body);
        *inflateResult = run.result;
        *plain = run.output();
    } else {
        *plain = body;
    }
    return checkMatches;
}

class ProducerArchives : public ::testing::Test {
protected:
    void SetUp() override
    {
        buildCrcTable();
        char pattern[] = "/tmp/aksfx-cipher-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::vector<uint8_t> text;
        for (int i = 0; i < 2000; i++) {
            std::string line = "line " + std::to_string(i) + " of a text that compresses well\n";
            text.insert(text.end(), line.begin(), line.end());
        }
        files_ = {{"text.txt", text}, {"random.bin", patternBytes(30000, 77)}, {"tiny.txt", {'h', 'i', '!'}}};
        for (auto& [name, bytes] : files_)
            writeWhole(dir_ + "/" + name, bytes);
    }
    void TearDown() override { system(("rm -rf '" + dir_ + "'").c_str()); }

    // Runs a producer in the fixture folder and checks every entry of its archive.
    void checkArchive(const std::string& command, const std::string& archive, bool expectDescriptorFlag)
    {
        ASSERT_EQ(system(("cd '" + dir_ + "' && (" + command + ") >/dev/null 2>&1").c_str()), 0) << command;
        std::vector<Entry> entries = readZip(readWhole(dir_ + "/" + archive));
        ASSERT_FALSE(entries.empty()) << command;
        for (const Entry& e : entries) {
            std::string name = e.name == "-" ? "text.txt" : e.name; // an entry read from standard input
            const std::vector<uint8_t>* original = nullptr;
            for (auto& f : files_)
                if (f.first == name)
                    original = &f.second;
            ASSERT_NE(original, nullptr) << e.name;
            EXPECT_EQ(e.localFlags & 1, 1) << command << " " << e.name << ": not encrypted";
            EXPECT_EQ((e.localFlags & 8) != 0, expectDescriptorFlag) << command << " " << e.name;

            std::vector<uint8_t> plain;
            int result = -1;
            freshWindow();
            EXPECT_TRUE(decryptEntry(e, "pw", &plain, &result)) << command << " " << e.name << ": check byte";
            EXPECT_EQ(result, 0) << command << " " << e.name;
            EXPECT_TRUE(plain == *original) << command << " " << e.name << ": contents";
            EXPECT_EQ(crc32Of(plain.data(), plain.size()), e.centralCrc) << command << " " << e.name;
            if (e.method == 0) {
                EXPECT_EQ(plain.size() + 12, e.data.size()) << e.name;
            }

            // A wrong password fails the check byte, or (one chance in 256) the contents.
            freshWindow();
            bool wrongCheck = decryptEntry(e, "pW", &plain, &result);
            EXPECT_TRUE(!wrongCheck || plain != *original) << command << " " << e.name;
        }
    }

    std::string dir_;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files_;
};

TEST_F(ProducerArchives, InfoZipEncryptedWithTheTimeAsCheckByte)
{
    if (!haveTool("zip"))
        GTEST_SKIP() << "zip is not installed";
    // Info-ZIP marks its encrypted entries with bit 3 and fills the CRC in afterwards: the check byte must
    // still come from the time.
    checkArchive("zip -q -e -P pw info.zip text.txt random.bin tiny.txt", "info.zip", true);
    std::vector<Entry> entries = readZip(readWhole(dir_ + "/info.zip"));
    ASSERT_FALSE(entries.empty());
    EXPECT_NE(entries[0].localCrc, 0u) << "the local CRC field was expected to be filled in";
}

TEST_F(ProducerArchives, InfoZipStreamedToAPipe)
{
    if (!haveTool("zip"))
        GTEST_SKIP() << "zip is not installed";
    checkArchive("zip -q -P pw - text.txt tiny.txt > streamed.zip", "streamed.zip", true);
    checkArchive("zip -q -P pw stdin.zip - < text.txt", "stdin.zip", true);
}

TEST_F(ProducerArchives, SevenZipEncryptedWithTheCrcAsCheckByte)
{
    if (!haveTool("7z"))
        GTEST_SKIP() << "7z is not installed";
    checkArchive("7z a -tzip -mem=ZipCrypto -ppw sz.zip text.txt random.bin tiny.txt", "sz.zip", false);
}

} // namespace
