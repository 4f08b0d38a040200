#include "platform/resource_usage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

TEST(ResourceUsage, PeakResidentMemoryCoversMemoryInUse) {
    const uint64_t before = platform::PeakResidentBytes();
    EXPECT_GT(before, 0u);
    // More than the peak so far, so the peak has to rise whatever ran before.
    const size_t touched = static_cast<size_t>(before) + (64u << 20);
    auto block = std::make_unique<char[]>(touched);
    std::memset(block.get(), 1, touched);  // resident only once written
    const uint64_t after = platform::PeakResidentBytes();
    EXPECT_GE(after, touched) << static_cast<int>(block[touched - 1]);
}
