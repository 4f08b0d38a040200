#include "archive/format/zip_cipher.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "frame_test_support.h"
#include "tool_made_fixtures.h"

using namespace frame_test;

namespace {

// Deciphers the 12-byte header of an entry with a password; returns the check
// byte the header yields, leaving the keys at the entry's data.
uint8_t DecipherHeader(TZipCipher& cipher, const std::string& zip, const LocalEntry& e,
                       const std::string& password) {
    std::string header = zip.substr(e.dataStart, 12);
    cipher.InitKeys(password);
    cipher.DecipherBuffer(header.data(), header.size());
    return static_cast<uint8_t>(header[11]);
}

std::string InflateRaw(const std::string& packed, size_t plainSize) {
    std::string out(plainSize, '\0');
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Archives made by the two tools: zip defers the sizes to a data descriptor
// (flag bit 3, check byte from the DOS time), 7-Zip does not (check byte from
// the CRC).
struct ArchiveCase {
    const char* name;
    const char* command;  // made cipher-<name>.zip from plain.txt = SampleText(5000)
    uint16_t method;
};

const ArchiveCase kArchiveCases[] = {
    {"zip_stored", "zip -q -0 -P s3cret out.zip plain.txt", 0},
    {"zip_deflated", "zip -q -9 -P s3cret out.zip plain.txt", 8},
    {"7z_stored", "7zz a -tzip -ps3cret -mem=ZipCrypto -mx=0 out.zip plain.txt", 0},
    {"7z_deflated", "7zz a -tzip -ps3cret -mem=ZipCrypto -mx=5 out.zip plain.txt", 8},
};

class ZipCipherArchives : public ::testing::TestWithParam<ArchiveCase> {
protected:
    void SetUp() override {
        plain_ = SampleText(5000);
        zip_ = ReadFile(ToolMade("cipher-" + std::string(GetParam().name) + ".zip"));
        entry_ = FirstLocalEntry(zip_);
        ASSERT_EQ(entry_.flags & 1, 1);
        ASSERT_EQ(entry_.method, GetParam().method);
    }
    uint8_t ExpectedCheckByte() const {
        return static_cast<uint8_t>((entry_.flags & 8) ? entry_.dosDateTime >> 8 : entry_.crc >> 24);
    }
    std::string Data() const { return zip_.substr(entry_.dataStart + 12, entry_.packedSize - 12); }
    std::string Plain(const std::string& deciphered) const {
        return entry_.method == 0 ? deciphered : InflateRaw(deciphered, plain_.size());
    }

    std::string plain_, zip_;
    LocalEntry entry_;
};

TEST_P(ZipCipherArchives, RightPasswordDeciphersToThePlainBytes) {
    TZipCipher& cipher = EntryCipher();
    EXPECT_EQ(DecipherHeader(cipher, zip_, entry_, "s3cret"), ExpectedCheckByte());
    std::string data = Data();
    // Two pieces: the key state carries across calls.
    const size_t half = data.size() / 2;
    cipher.DecipherBuffer(data.data(), half);
    cipher.DecipherBuffer(data.data() + half, data.size() - half);
    EXPECT_EQ(Plain(data), plain_);
}

TEST_P(ZipCipherArchives, WrongPasswordsYieldNoise) {
    TZipCipher cipher;
    for (const std::string wrong : {"S3cret", "s3cre", "s3crett", "x"}) {
        DecipherHeader(cipher, zip_, entry_, wrong);
        std::string data = Data();
        cipher.DecipherBuffer(data.data(), data.size());
        EXPECT_NE(Plain(data), plain_) << wrong;
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, ZipCipherArchives, ::testing::ValuesIn(kArchiveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZipCipher, LongPasswordsTakePartWhole) {
    // A 256-character password must not act like the empty one, and one of
    // 300 characters must differ from its first 44.
    TZipCipher empty, of256, of300, first44;
    empty.InitKeys("");
    of256.InitKeys(std::string(256, 'p'));
    EXPECT_NE(of256.Key0, empty.Key0);
    const std::string long300 = SampleText(300);
    of300.InitKeys(long300);
    first44.InitKeys(long300.substr(0, 44));
    EXPECT_NE(of300.Key0, first44.Key0);

    TZipCipher fed;
    fed.InitKeys("");
    for (char c : long300) fed.UpdateKeys(static_cast<uint8_t>(c));
    EXPECT_EQ(fed.Key0, of300.Key0);
    EXPECT_EQ(fed.Key1, of300.Key1);
    EXPECT_EQ(fed.Key2, of300.Key2);
}

TEST(ZipCipher, KnownKeyStateAfterOneByte) {
    // Worked by hand from the cipher's definition with the standard CRC table.
    TZipCipher cipher;
    cipher.InitKeys("");
    EXPECT_EQ(cipher.Key0, 0x12345678u);
    cipher.UpdateKeys(0);
    const uint32_t key0 = static_cast<uint32_t>(get_crc_table()[0x78]) ^ (0x12345678u >> 8);
    EXPECT_EQ(cipher.Key0, key0);
    const uint32_t key1 = (0x23456789u + (key0 & 0xFF)) * 134775813u + 1;
    EXPECT_EQ(cipher.Key1, key1);
    const uint32_t key2 =
        static_cast<uint32_t>(get_crc_table()[(0x34567890u ^ (key1 >> 24)) & 0xFF]) ^ (0x34567890u >> 8);
    EXPECT_EQ(cipher.Key2, key2);
    const uint32_t t = (key2 & 0xFFFF) | 2;
    EXPECT_EQ(cipher.DecryptByte(), static_cast<uint8_t>((t * (t ^ 1)) >> 8));
}

}  // namespace
