// Deflate64 streams: archives written by 7-Zip and other tools, and the long
// matches of length code 285 that no encoder at hand writes, built by hand.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/archive/inflate_test_support.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

using namespace inflate_test;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kMethodDeflate64 = 9;

// Decodes one entry with its method's variant, whole and in small pieces.
void ExpectEntryDecodes(const ZipEntry& e, const std::string& where) {
    const InflateVariant variant = VariantOf(e.method == kMethodDeflate64);
    Decoded whole = DecodeWhole(variant, e.data);
    EXPECT_EQ(whole.code, kInflateStreamEnd) << where;
    EXPECT_EQ(whole.out.size(), e.uncompressedSize) << where;
    EXPECT_EQ(Crc32(whole.out), e.crc) << where;
    EXPECT_EQ(whole.totalIn, e.data.size()) << where;

    Decoded byteIn = Decode(variant, e.data, 1, 4096);
    EXPECT_EQ(byteIn.code, kInflateStreamEnd) << where << " (one input byte per call)";
    EXPECT_TRUE(byteIn.out == whole.out) << where << " (one input byte per call)";
    Decoded smallOut = Decode(variant, e.data, e.data.size(), 7);
    EXPECT_TRUE(smallOut.out == whole.out) << where << " (seven output bytes per call)";
}

TEST(InflateDeflate64, FixtureArchivesDecode) {
    const fs::path dir = fs::path(QUENDAL_TEST_FIXTURES) / "inflate";
    int deflate64Entries = 0;
    for (const char* name : {"compress-380.zip", "compress-380-dd.zip", "compress-380-readbeyondmemory.zip",
                             "lorem-ipsum-deflate64.zip", "7zip-deflate64.zip"}) {
        const Bytes zip = ReadFile(dir / name);
        ASSERT_FALSE(zip.empty()) << name;
        for (const ZipEntry& e : ReadZip(zip)) {
            if (e.method != kMethodDeflate && e.method != kMethodDeflate64) continue;
            deflate64Entries += e.method == kMethodDeflate64;
            ExpectEntryDecodes(e, std::string(name) + ":" + e.name);
        }
    }
    EXPECT_EQ(deflate64Entries, 7);
}

// Deflate64 data that uses what Deflate lacks decodes wrongly or not at all
// as Deflate: a check that the variant really matters for the data at hand.
bool DecodesAsDeflate(const Bytes& stream, const Bytes& expected) {
    Decoded d = DecodeWhole(stream);
    return d.code == kInflateStreamEnd && d.out == expected;
}

class SevenZip : public testing::Test {
protected:

    // The raw Deflate64 stream 7-Zip makes of `data`.
    Bytes Deflate64Of(const Bytes& data) {
        WriteFile(dir_ / "data.bin", data);
        const std::string command = "cd '" + dir_.string() + "' && 7zz a -tzip -mm=Deflate64 -mx=9 out.zip data.bin >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return {};
        std::vector<ZipEntry> entries = ReadZip(ReadFile(dir_ / "out.zip"));
        fs::remove(dir_ / "out.zip");
        if (entries.size() != 1 || entries[0].method != kMethodDeflate64) return {};
        return entries[0].data;
    }

    const TempFolder folder_{"quendal-inflate-7z"};
    const fs::path dir_ = folder_.path();
};

TEST_F(SevenZip, RealAndRepetitiveDataWithFarDistances) {
    SKIP_ON_WINDOWS("7zz makes these streams at run time from this machine's licence texts and the test program "
                    "itself (megabytes, not kept as fixtures), and a Windows test program cannot start it here; "
                    "7-Zip's Deflate64 is read on Windows from the fixture archives");
    // Text, zeros and random blocks arranged so that repeats lie 40 to 60 KiB back.
    const Bytes text = LicenceText();
    const Bytes random = RandomBytes(45000, 11);
    Bytes farRepeats(random);
    farRepeats.insert(farRepeats.end(), random.begin(), random.end());
    farRepeats.insert(farRepeats.end(), text.begin(), text.begin() + 20000);
    farRepeats.insert(farRepeats.end(), 30000, 0);
    farRepeats.insert(farRepeats.end(), text.begin(), text.begin() + 20000);

    const std::pair<const char*, Bytes> samples[] = {
        {"text", text},
        {"binary", ProgramBinary(1 << 20)},
        {"repetitive", RepetitiveBytes(1 << 20)},
        {"far repeats", farRepeats},
    };
    for (const auto& [name, data] : samples) {
        const Bytes stream = Deflate64Of(data);
        ASSERT_FALSE(stream.empty()) << name << ": 7zz made no Deflate64 entry";
        const InflateVariant variant = InflateVariant::Deflate64;
        Decoded whole = DecodeWhole(variant, stream);
        EXPECT_EQ(whole.code, kInflateStreamEnd) << name;
        EXPECT_TRUE(whole.out == data) << name;
        EXPECT_EQ(whole.totalIn, stream.size()) << name;
        Decoded byteIn = Decode(variant, stream, 1, 32768);
        EXPECT_TRUE(byteIn.out == data) << name << " (one input byte per call)";
        Decoded byteOut = Decode(variant, stream, stream.size(), 1);
        EXPECT_TRUE(byteOut.out == data) << name << " (one output byte per call)";
    }
    EXPECT_FALSE(DecodesAsDeflate(Deflate64Of(farRepeats), farRepeats)) << "no distance beyond 32 KiB was used";
}

// A stored block of 40,000 random bytes, then a fixed block with one match
// of length code 285: `extra` in its 16 extra bits, at distance 40,000.
Bytes LongMatchStream(const Bytes& prefix, uint16_t extra) {
    BitWriter w;
    w.Put(0, 1);
    w.Put(0, 2);
    w.AlignToByte();
    w.Put(static_cast<uint32_t>(prefix.size()), 16);
    w.Put(static_cast<uint32_t>(~prefix.size() & 0xFFFF), 16);
    for (uint8_t b : prefix) w.PutByte(b);
    w.Put(1, 1);
    w.Put(1, 2);
    w.FixedLiteralLength(285);
    w.Put(extra, 16);
    w.FixedDistance(30);  // 32,769 + 14 extra bits
    w.Put(static_cast<uint32_t>(prefix.size() - 32769), 14);
    w.FixedLiteralLength(256);
    return w.Finish();
}

TEST(InflateDeflate64, LengthCode285CopiesLongMatchesAcrossTheWindowEnd) {
    const Bytes prefix = RandomBytes(40000, 5);
    for (uint16_t extra : {uint16_t{0}, uint16_t{255}, uint16_t{300}, uint16_t{65535}}) {
        const Bytes stream = LongMatchStream(prefix, extra);
        Bytes expected = prefix;
        for (size_t i = 0; i < size_t{3} + extra; ++i) expected.push_back(expected[expected.size() - prefix.size()]);
        const InflateVariant variant = InflateVariant::Deflate64;
        for (auto [inChunk, outChunk] : {std::pair<size_t, size_t>{stream.size(), 1 << 20}, {1, 65536}, {stream.size(), 1},
                                         {stream.size(), 1000}}) {
            Decoded d = Decode(variant, stream, inChunk, outChunk);
            EXPECT_EQ(d.code, kInflateStreamEnd) << "length " << 3 + extra;
            EXPECT_TRUE(d.out == expected) << "length " << 3 + extra << ", pieces " << inChunk << "/" << outChunk;
            EXPECT_EQ(d.totalIn, stream.size());
        }
    }
}

// Streams whose fixed-code blocks mean different things in the two
// variants, decoded in turn: each must use its own variant's fixed tables.
TEST(InflateDeflate64, VariantsAlternateWithTheirOwnFixedTables) {
    BitWriter deflate;  // 'a', length 258 at distance 1
    deflate.Put(1, 1);
    deflate.Put(1, 2);
    deflate.FixedLiteralLength('a');
    deflate.FixedLiteralLength(285);
    deflate.FixedDistance(0);
    deflate.FixedLiteralLength(256);
    const Bytes deflateStream = deflate.Finish();
    BitWriter deflate64;  // 'b', length 3 + 1000 at distance 1, a match at distance 32,769 + 100
    deflate64.Put(1, 1);
    deflate64.Put(1, 2);
    deflate64.FixedLiteralLength('b');
    deflate64.FixedLiteralLength(285);
    deflate64.Put(1000, 16);
    deflate64.FixedDistance(0);
    deflate64.FixedLiteralLength(257);
    deflate64.FixedDistance(30);
    deflate64.Put(100, 14);
    deflate64.FixedLiteralLength(256);
    const Bytes deflate64Stream = deflate64.Finish();

    const Bytes deflateOut(259, 'a');
    Bytes deflate64Out(1004, 'b');
    deflate64Out.insert(deflate64Out.end(), 3, 0);

    for (int round = 0; round < 2; ++round) {
        for (bool first64 : {false, true}) {
            for (bool use64 : {first64, !first64}) {
                const InflateVariant variant = VariantOf(use64);
                Decoded d = DecodeWhole(variant, use64 ? deflate64Stream : deflateStream);
                EXPECT_EQ(d.code, kInflateStreamEnd) << "Deflate64 " << use64;
                EXPECT_TRUE(d.out == (use64 ? deflate64Out : deflateOut)) << "Deflate64 " << use64;
            }
        }
    }
    EXPECT_FALSE(DecodesAsDeflate(deflate64Stream, deflate64Out));
}

}  // namespace
