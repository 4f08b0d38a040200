// Raw Deflate streams made by zlib decode to the bytes they were made from,
// however the input and the output space are handed out.

#include <gtest/gtest.h>

#include <map>

#include "tests/archive/inflate_test_support.h"

using namespace inflate_test;

namespace {

const Bytes& Sample(const std::string& name) {
    static std::map<std::string, Bytes> samples;
    auto it = samples.find(name);
    if (it != samples.end()) return it->second;
    Bytes data;
    if (name == "empty") data = {};
    else if (name == "one-byte") data = {'A'};
    else if (name == "text") data = LicenceText();
    else if (name == "binary") data = ProgramBinary(3 << 20);
    else if (name == "random") data = RandomBytes(300000, 7);
    else if (name == "repetitive") data = RepetitiveBytes(2 << 20);
    return samples.emplace(name, std::move(data)).first->second;
}

struct Case {
    std::string sample;
    int level;
    int strategy;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    static const std::map<int, std::string> strategies = {
        {Z_DEFAULT_STRATEGY, ""}, {Z_FIXED, "_fixed"}, {Z_HUFFMAN_ONLY, "_huffman"}, {Z_RLE, "_rle"}};
    std::string name = info.param.sample + "_level" + std::to_string(info.param.level) + strategies.at(info.param.strategy);
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

class InflateRoundTrip : public testing::TestWithParam<Case> {};

TEST_P(InflateRoundTrip, DecodesWholeAndInPieces) {
    const Bytes& data = Sample(GetParam().sample);
    const Bytes packed = ZlibDeflate(data, GetParam().level, GetParam().strategy);

    // Bytes after the stream must stay unread.
    Bytes withTrailer = packed;
    const Bytes trailer = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    withTrailer.insert(withTrailer.end(), trailer.begin(), trailer.end());
    Decoded whole = DecodeWhole(withTrailer);
    ASSERT_EQ(whole.code, kInflateStreamEnd);
    EXPECT_TRUE(whole.out == data) << "whole: " << whole.out.size() << " of " << data.size() << " bytes";
    EXPECT_EQ(whole.totalIn, packed.size());
    EXPECT_EQ(whole.availIn, static_cast<int32_t>(trailer.size()));

    // 32 KiB pieces of both, as the decompression stream hands them out.
    Decoded pieces = Decode(packed, 32768, 32768);
    ASSERT_EQ(pieces.code, kInflateStreamEnd);
    EXPECT_TRUE(pieces.out == data);

    Decoded byteIn = Decode(packed, 1, 65536);
    ASSERT_EQ(byteIn.code, kInflateStreamEnd);
    EXPECT_TRUE(byteIn.out == data) << "one input byte per call";
    EXPECT_EQ(byteIn.totalIn, packed.size());

    Decoded byteOut = Decode(withTrailer, withTrailer.size(), 1);
    ASSERT_EQ(byteOut.code, kInflateStreamEnd);
    EXPECT_TRUE(byteOut.out == data) << "one output byte per call";
    EXPECT_EQ(byteOut.totalIn, packed.size());
    EXPECT_EQ(byteOut.availIn, static_cast<int32_t>(trailer.size()));
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (const char* sample : {"empty", "one-byte", "text", "binary", "random", "repetitive"}) {
        for (int level = 0; level <= 9; ++level) cases.push_back({sample, level, Z_DEFAULT_STRATEGY});
        for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) cases.push_back({sample, 6, strategy});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Zlib, InflateRoundTrip, testing::ValuesIn(AllCases()), CaseName);

// A truncated stream is no error: the decoder waits for more, and resumes.
TEST(InflateInput, TruncatedStreamWaitsForMoreAndResumes) {
    const Bytes data = LicenceText();
    const Bytes packed = ZlibDeflate(data, 9);
    const size_t cut = packed.size() / 2;

    TInflateRec rec;
    ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
    Bytes out(data.size() + 1);
    rec.NextIn = packed.data();
    rec.AvailIn = static_cast<int32_t>(cut);
    rec.NextOut = out.data();
    rec.AvailOut = static_cast<int32_t>(out.size());
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateOk);
    EXPECT_EQ(rec.AvailIn, 0);
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateBufError) << "no input, no progress";
    EXPECT_EQ(Inflate(&rec, kInflateFinish), kInflateBufError);

    rec.AvailIn = static_cast<int32_t>(packed.size() - cut);
    EXPECT_EQ(Inflate(&rec, kInflateFinish), kInflateStreamEnd);
    EXPECT_EQ(rec.TotalOut, data.size());
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + static_cast<long>(rec.TotalOut)) == data);
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateStreamEnd) << "stays ended";
    EXPECT_EQ(InflateEnd(&rec), kInflateOk);
    EXPECT_EQ(rec.State, nullptr);
}

TEST(InflateInput, FinishWithoutReachingTheEndReportsNoProgress) {
    const Bytes data = RandomBytes(100000, 3);
    const Bytes packed = ZlibDeflate(data, 6);
    TInflateRec rec;
    ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
    Bytes out(1000);
    rec.NextIn = packed.data();
    rec.AvailIn = static_cast<int32_t>(packed.size());
    rec.NextOut = out.data();
    rec.AvailOut = static_cast<int32_t>(out.size());
    EXPECT_EQ(Inflate(&rec, kInflateFinish), kInflateBufError);
    EXPECT_EQ(rec.TotalOut, out.size()) << "the output was still delivered";
    InflateEnd(&rec);
}

TEST(InflateInput, ResetStartsOverWithTheSameRecord) {
    const Bytes data = RepetitiveBytes(200000);
    const Bytes packed = ZlibDeflate(data, 6);
    TInflateRec rec;
    ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
    for (int round = 0; round < 2; ++round) {
        Bytes out(data.size());
        rec.NextIn = packed.data();
        rec.AvailIn = static_cast<int32_t>(round == 0 ? packed.size() / 2 : packed.size());  // the first round stops half way
        rec.NextOut = out.data();
        rec.AvailOut = static_cast<int32_t>(out.size());
        int code = Inflate(&rec, kInflateNoFlush);
        if (round == 0) {
            EXPECT_EQ(code, kInflateOk);
            EXPECT_EQ(InflateReset(&rec), kInflateOk);
            EXPECT_EQ(rec.TotalIn, 0u);
            EXPECT_EQ(rec.TotalOut, 0u);
        } else {
            EXPECT_EQ(code, kInflateStreamEnd);
            EXPECT_TRUE(out == data);
        }
    }
    InflateEnd(&rec);
}

}  // namespace
