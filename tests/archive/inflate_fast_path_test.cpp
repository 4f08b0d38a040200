// The fast path's own edges: matches copied in words that end at the window's
// end or just before undelivered bytes, distances of exactly the window size
// right after such a copy, refills close to the end of the input, and the
// bit buffer handed from one call to the next.

#include <gtest/gtest.h>

#include <random>

#include "tests/archive/inflate_test_support.h"

using namespace inflate_test;

namespace {

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint32_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                        49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                        2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                        7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// Fixed-code blocks written symbol by symbol, with the bytes they stand for
// worked out byte by byte (zeros before the start of the stream).
class SymbolStream {
public:
    explicit SymbolStream(bool deflate64) : deflate64_(deflate64) {}

    void StartBlock(bool last) {
        w_.Put(last ? 1 : 0, 1);
        w_.Put(1, 2);
    }
    void EndBlock() { w_.FixedLiteralLength(256); }

    void Literal(uint8_t b) {
        w_.FixedLiteralLength(b);
        expected_.push_back(b);
    }

    void Match(unsigned length, uint32_t distance) {
        if (deflate64_ && length > 258) {
            w_.FixedLiteralLength(285);  // base 3, 16 extra bits
            w_.Put(length - 3, 16);
        } else {
            // Deflate64 reads code 285 differently: 258 goes through code 284 there.
            unsigned i = deflate64_ ? 27 : 28;
            while (kLengthBase[i] > length) --i;
            w_.FixedLiteralLength(257 + i);
            w_.Put(length - kLengthBase[i], kLengthExtra[i]);
        }
        unsigned d = deflate64_ ? 31 : 29;
        while (kDistanceBase[d] > distance) --d;
        w_.FixedDistance(d);
        w_.Put(distance - kDistanceBase[d], kDistanceExtra[d]);
        for (unsigned k = 0; k < length; ++k) {
            const size_t at = expected_.size();
            expected_.push_back(at >= distance ? expected_[at - distance] : 0);
        }
    }

    size_t Size() const { return expected_.size(); }
    const Bytes& Expected() const { return expected_; }
    Bytes Finish() { return w_.Finish(); }

private:
    bool deflate64_;
    BitWriter w_;
    Bytes expected_;
};

// Random symbols that lean on the edges: distances of 1 to 17 and within 17
// of the window size, lengths just around the word sizes and the longest ones.
Bytes RandomSymbols(SymbolStream& s, bool deflate64, uint32_t window, size_t size, std::mt19937& rng) {
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    bool last = false;
    while (!last) {
        last = s.Size() >= size;
        s.StartBlock(last);
        for (int symbol = 0; symbol < 400; ++symbol) {
            if (pick(3) == 0) {
                for (uint32_t n = 1 + pick(4); n > 0; --n) s.Literal(static_cast<uint8_t>(rng()));
                continue;
            }
            uint32_t length;
            switch (pick(4)) {
                case 0: length = 3 + pick(16); break;
                case 1: length = 250 + pick(9); break;
                case 2: length = deflate64 && pick(4) == 0 ? 259 + pick(700) : 3 + pick(256); break;
                default: length = 14 + pick(6); break;
            }
            uint32_t distance;
            switch (pick(3)) {
                case 0: distance = 1 + pick(17); break;
                case 1: distance = window - pick(18); break;
                default: distance = 1 + pick(window); break;
            }
            s.Match(length, distance);
        }
        s.EndBlock();
    }
    return s.Finish();
}

struct WindowCase {
    bool deflate64;
    int windowBits;
};

class InflateFastPath : public testing::TestWithParam<WindowCase> {};

TEST_P(InflateFastPath, RandomSymbolsDecodeTheSameInAnyPieces) {
    const auto [deflate64, windowBits] = GetParam();
    const InflateVariant variant = VariantOf(deflate64);
    const uint32_t window = uint32_t{1} << (-windowBits + (deflate64 ? 1 : 0));
    std::mt19937 rng(static_cast<uint32_t>(window) + deflate64);
    for (int round = 0; round < 6; ++round) {
        SymbolStream s(deflate64);
        Bytes stream = RandomSymbols(s, deflate64, window, 3 * window, rng);
        const Bytes trailer = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
        stream.insert(stream.end(), trailer.begin(), trailer.end());
        // Whole; output in the window's size and either side of it; input at
        // the fast path's refill margin and either side of it; small pieces.
        const std::pair<size_t, size_t> pieces[] = {
            {stream.size(), 1 << 20}, {stream.size(), window - 1}, {stream.size(), window}, {stream.size(), window + 1},
            {9, 1 << 20},             {10, 1 << 20},                {11, 1 << 20},           {1, 7},
            {13, 259},                {stream.size(), 3}};
        for (auto [inChunk, outChunk] : pieces) {
            Decoded d = Decode(variant, stream, inChunk, outChunk, windowBits);
            ASSERT_EQ(d.code, kInflateStreamEnd) << "round " << round << ", pieces " << inChunk << "/" << outChunk;
            ASSERT_TRUE(d.out == s.Expected())
                << "round " << round << ", pieces " << inChunk << "/" << outChunk << ": " << d.out.size() << " of "
                << s.Expected().size() << " bytes";
            EXPECT_EQ(d.totalIn, stream.size() - trailer.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, InflateFastPath,
                         testing::Values(WindowCase{false, -8}, WindowCase{false, -9}, WindowCase{false, -15},
                                         WindowCase{true, -8}, WindowCase{true, -15}),
                         [](const testing::TestParamInfo<WindowCase>& info) {
                             return std::string(info.param.deflate64 ? "Deflate64" : "Deflate") + "_bits" +
                                    std::to_string(-info.param.windowBits);
                         });

// The first call stops at every possible byte of the stream, leaving bits of
// a code in the buffer; the second call must take them from there.
TEST(InflateFastPathCalls, InputSplitAtEveryByte) {
    Bytes text = LicenceText();
    text.resize(6000);
    Bytes stream = ZlibDeflate(text, 9);
    const size_t packed = stream.size();
    stream.push_back(0xAB);  // must stay unread
    for (size_t split = 0; split <= stream.size(); ++split) {
        TInflateRec rec;
        ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
        Bytes out(text.size() + 100);
        rec.NextOut = out.data();
        rec.AvailOut = static_cast<int32_t>(out.size());
        rec.NextIn = stream.data();
        rec.AvailIn = static_cast<int32_t>(split);
        int code = Inflate(&rec, kInflateNoFlush);
        ASSERT_TRUE(code == kInflateOk || code == kInflateBufError || code == kInflateStreamEnd) << split;
        if (code != kInflateStreamEnd) {
            ASSERT_EQ(rec.AvailIn, 0) << "a call with room left uses all its input, split " << split;
            rec.AvailIn = static_cast<int32_t>(stream.size() - split);
            code = Inflate(&rec, kInflateNoFlush);
        }
        EXPECT_EQ(code, kInflateStreamEnd) << split;
        EXPECT_EQ(rec.TotalOut, text.size()) << split;
        EXPECT_TRUE(std::equal(text.begin(), text.end(), out.begin())) << split;
        EXPECT_EQ(rec.TotalIn, packed) << split;
        EXPECT_EQ(rec.AvailIn, split == packed ? 0 : 1) << "the byte after the stream stays unread, split " << split;
        InflateEnd(&rec);
    }
}

}  // namespace

// How much input a call has taken when it meets an invalid distance code
// after a length: up to the last whole byte before the distance code where
// a fast path with a 258-byte margin runs (a 32 KiB window), and up to the
// byte that completes the 5-bit code where the byte-at-a-time steps meet it
// (a 256-byte window never leaves that margin). 9-bit literals before it
// shift the code through every bit position.
TEST(InflateFastPathCalls, InputTakenAtAnInvalidDistanceCode) {
    for (int windowBits : {-15, -8}) {
        for (unsigned literals = 0; literals < 16; ++literals) {
            BitWriter w;
            w.Put(1, 1);
            w.Put(1, 2);
            for (unsigned i = 0; i < literals; ++i) w.FixedLiteralLength(200);  // 9 bits
            w.FixedLiteralLength(257);  // 7 bits: length 3
            w.FixedDistance(30);        // invalid in Deflate
            Bytes stream = w.Finish();
            stream.resize(stream.size() + 40, 0);  // input to spare for the fast path
            const unsigned bitsBeforeDistance = 3 + 9 * literals + 7;
            const unsigned expected =
                windowBits == -15 ? (bitsBeforeDistance + 7) / 8 : (bitsBeforeDistance + 5 + 7) / 8;
            const Decoded d = Decode(stream, stream.size(), 1 << 16, windowBits);
            EXPECT_EQ(d.code, kInflateDataError);
            EXPECT_EQ(d.totalIn, expected) << "window bits " << windowBits << ", literals " << literals;
        }
    }
}
