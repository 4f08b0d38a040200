// Damaged streams end in a result, never in a crash, a hang or a write past
// the output: bytes flipped at random in real streams of both variants; and
// for Deflate, the same results as zlib's raw inflate.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/archive/inflate_test_support.h"

using namespace inflate_test;

namespace {

// Up to `maxFlips` bytes changed at random; with `nearStart`, one more in the
// first 64 bytes, which reaches the block headers more often.
Bytes Damaged(const Bytes& original, std::mt19937& rng, unsigned maxFlips, bool nearStart) {
    Bytes damaged = original;
    const unsigned flips = 1 + static_cast<unsigned>(rng() % maxFlips);
    for (unsigned f = 0; f < flips; ++f) damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    if (nearStart) damaged[rng() % std::min<size_t>(damaged.size(), 64)] ^= 0x5A;
    return damaged;
}

TEST(InflateCorrupt, FlippedBytesEndInAResult) {
    Bytes text = LicenceText();
    text.resize(40000);
    const Bytes samples[] = {ZlibDeflate(text, 9), ZlibDeflate(text, 6, Z_FIXED), ZlibDeflate(RepetitiveBytes(40000), 9)};
    std::mt19937 rng(2024);
    for (bool deflate64 : {false, true}) {
        const InflateVariant variant = VariantOf(deflate64);
        for (const Bytes& original : samples) {
            for (int trial = 0; trial < 150; ++trial) {
                const Bytes damaged = Damaged(original, rng, 4, trial % 3 == 0);
                for (size_t inChunk : {damaged.size(), size_t{7}}) {
                    Decoded d = Decode(variant, damaged, inChunk, 1000);
                    EXPECT_TRUE(d.code == kInflateStreamEnd || d.code == kInflateDataError ||
                                d.code == kInflateBufError)
                        << "code " << d.code;
                    if (d.code == kInflateBufError) {
                        EXPECT_EQ(d.inputGiven, damaged.size()) << "stopped with input left";
                    }
                }
            }
        }
    }
}

struct ZlibResult {
    int code = Z_OK;
    std::string message;
    Bytes out;
    uint64_t totalIn = 0;
};

ZlibResult ZlibInflate(const Bytes& input) {
    ZlibResult r;
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(input.data());
    zs.avail_in = static_cast<uInt>(input.size());
    Bytes buffer(65536);
    do {
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<uInt>(buffer.size());
        r.code = inflate(&zs, Z_NO_FLUSH);
        r.out.insert(r.out.end(), buffer.data(), zs.next_out);
    } while (r.code == Z_OK);
    if (zs.msg) r.message = zs.msg;
    r.totalIn = zs.total_in;
    inflateEnd(&zs);
    return r;
}

// Good blocks, then a block of the reserved type: every byte of the good
// blocks comes out before the error, in small output pieces as in one.
TEST(InflateCorrupt, BytesDecodedBeforeAnErrorAreDeliveredWhateverTheOutputRoom) {
    Bytes text = LicenceText();
    text.resize(5000);
    z_stream zs{};
    ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes stream(deflateBound(&zs, text.size()) + 16);
    zs.next_in = text.data();
    zs.avail_in = static_cast<uInt>(text.size());
    zs.next_out = stream.data();
    zs.avail_out = static_cast<uInt>(stream.size());
    ASSERT_EQ(deflate(&zs, Z_SYNC_FLUSH), Z_OK);  // blocks that are not the last, ending on a byte boundary
    stream.resize(zs.total_out);
    deflateEnd(&zs);
    stream.push_back(0x07);  // last block, type 3
    for (size_t outChunk : {size_t{1}, size_t{61}, size_t{65536}}) {
        const Decoded d = Decode(stream, stream.size(), outChunk);
        EXPECT_EQ(d.code, kInflateDataError) << outChunk;
        EXPECT_EQ(d.out.size(), text.size()) << "output room " << outChunk;
        EXPECT_TRUE(d.out == text) << "output room " << outChunk;
    }
}

// zlib as the reference on damaged Deflate streams: both decode the same
// bytes as far as both go; where zlib reaches the end, so does the decoder,
// having read as much; where zlib finds the data wrong, so does the decoder,
// at the same place, unless zlib refuses a distance before the start, which reads zeros here.
TEST(InflateCorrupt, FlippedBytesAgreeWithZlib) {
    Bytes text = LicenceText();
    text.resize(30000);
    const Bytes samples[] = {ZlibDeflate(text, 9), ZlibDeflate(text, 1), ZlibDeflate(text, 6, Z_FIXED),
                             ZlibDeflate(text, 6, Z_HUFFMAN_ONLY), ZlibDeflate(ProgramBinary(30000), 6),
                             ZlibDeflate(RepetitiveBytes(30000), 9)};
    std::mt19937 rng(14);
    int bothEnded = 0;
    for (const Bytes& original : samples) {
        for (int trial = 0; trial < 200; ++trial) {
            Bytes damaged = Damaged(original, rng, 3, trial % 3 == 0);
            // One bit of the first block header's fields (block type, the
            // three counts) in a good part of the trials.
            if (trial % 4 == 1) damaged[rng() % 3] ^= static_cast<uint8_t>(1u << (rng() % 8));
            const ZlibResult z = ZlibInflate(damaged);
            const size_t inChunk = trial % 2 ? damaged.size() : 1 + rng() % 40;
            // However little output room each call has, all that was decoded
            // before an error is delivered, as zlib delivers it.
            const size_t outChunk = trial % 5 == 0 ? 1 : trial % 5 == 1 ? 61 : size_t{1} << 22;
            const Decoded d = Decode(damaged, inChunk, outChunk);
            const std::string where = "trial " + std::to_string(trial) + ", zlib: " + z.message;
            const size_t common = std::min(z.out.size(), d.out.size());
            ASSERT_TRUE(std::equal(z.out.begin(), z.out.begin() + static_cast<long>(common), d.out.begin())) << where;
            if (z.code == Z_STREAM_END) {
                ASSERT_EQ(d.code, kInflateStreamEnd) << where;
                EXPECT_EQ(d.out.size(), z.out.size()) << where;
                EXPECT_EQ(d.totalIn, z.totalIn) << where;
                ++bothEnded;
            } else if (z.message == "invalid distance too far back") {
                // Reads zeros here, and decoding goes on.
            } else if (z.code == Z_DATA_ERROR) {
                EXPECT_EQ(d.code, kInflateDataError) << where;
                EXPECT_EQ(d.out.size(), z.out.size()) << "the error is found at the same place, " << where;
            } else {
                EXPECT_NE(d.code, kInflateStreamEnd) << where;
            }
        }
    }
    EXPECT_GT(bothEnded, 0) << "some damage must leave a stream that still decodes";
}

}  // namespace
