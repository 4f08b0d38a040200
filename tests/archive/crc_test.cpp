// The CRC-32 back end against zlib's as the reference: every length around
// the sizes where a folding implementation changes strategy, every
// alignment, and a running register carried over uneven pieces.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "archive/format/crc.h"

namespace {

uint32_t ZlibCrc(const uint8_t* p, size_t n) { return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n))); }

std::vector<uint8_t> Random(size_t n) {
    std::mt19937 rng(14);
    std::vector<uint8_t> data(n);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    return data;
}

TEST(Crc32, MatchesZlibForEveryLengthAndAlignment) {
    const std::vector<uint8_t> data = Random(1 << 20);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t n = 0; n <= 600; ++n) {
            ASSERT_EQ(~UpdateCrc32(0xFFFFFFFF, data.data() + offset, n), ZlibCrc(data.data() + offset, n))
                << "offset " << offset << " length " << n;
        }
    }
    const size_t large = data.size() - 7;
    EXPECT_EQ(~UpdateCrc32(0xFFFFFFFF, data.data() + 7, large), ZlibCrc(data.data() + 7, large));
}

TEST(Crc32, RunningRegisterOverUnevenPieces) {
    const std::vector<uint8_t> data = Random(300000);
    std::mt19937 rng(7);
    uint32_t running = 0xFFFFFFFF;
    for (size_t at = 0; at < data.size();) {
        const size_t n = std::min<size_t>(rng() % 5000, data.size() - at);
        running = UpdateCrc32(running, data.data() + at, n);
        at += n;
    }
    EXPECT_EQ(~running, ZlibCrc(data.data(), data.size()));
}

}  // namespace
