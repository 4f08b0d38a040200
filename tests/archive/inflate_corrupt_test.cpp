// Damaged streams end in a result, never in a crash, a hang or a write past
// the output: bytes flipped at random in real streams of both variants.

#include <gtest/gtest.h>

#include <random>

#include "tests/archive/inflate_test_support.h"

using namespace inflate_test;

namespace {

TEST(InflateCorrupt, FlippedBytesEndInAResult) {
    Bytes text = LicenceText();
    text.resize(40000);
    const Bytes samples[] = {ZlibDeflate(text, 9), ZlibDeflate(text, 6, Z_FIXED), ZlibDeflate(RepetitiveBytes(40000), 9)};
    std::mt19937 rng(2024);
    for (bool deflate64 : {false, true}) {
        UseDeflate64(deflate64);
        for (const Bytes& original : samples) {
            for (int trial = 0; trial < 150; ++trial) {
                Bytes damaged = original;
                const int flips = 1 + static_cast<int>(rng() % 4);
                for (int f = 0; f < flips; ++f) damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
                // Damage near the start reaches the block headers more often.
                if (trial % 3 == 0) damaged[rng() % std::min<size_t>(damaged.size(), 64)] ^= 0x5A;
                for (size_t inChunk : {damaged.size(), size_t{7}}) {
                    Decoded d = Decode(damaged, inChunk, 1000);
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

}  // namespace
