#include "release/release_version.h"
#include "release/utc_time.h"

#include <gtest/gtest.h>

#include <compare>
#include <string>

using release::ReleaseVersion;
using release::UtcTime;

namespace {

struct Ordered {
    const char* left;
    const char* right;
    std::strong_ordering order;
};

TEST(ReleaseVersion, ComparesPartsAsNumbers) {
    const Ordered table[] = {
        {"1.10", "1.9", std::strong_ordering::greater},
        {"1.4.2", "1.4.10", std::strong_ordering::less},
        {"2", "1.99.99", std::strong_ordering::greater},
        {"1.2", "1.2.0", std::strong_ordering::equal},  // missing parts count as zero
        {"1.2.0.0", "1.2", std::strong_ordering::equal},
        {"1.2.0.1", "1.2", std::strong_ordering::greater},
        {"01.2", "1.2", std::strong_ordering::equal},
        {"0", "0.0.1", std::strong_ordering::less},
        {"999999999.0", "999999998.999999999", std::strong_ordering::greater},
    };
    for (const Ordered& c : table) {
        const auto left = ReleaseVersion::Parse(c.left);
        const auto right = ReleaseVersion::Parse(c.right);
        ASSERT_TRUE(left && right) << c.left << " " << c.right;
        EXPECT_TRUE((*left <=> *right) == c.order) << c.left << " vs " << c.right;
        EXPECT_TRUE((*right <=> *left) == 0 <=> c.order) << c.right << " vs " << c.left;
    }
}

TEST(ReleaseVersion, RefusesAnythingButDottedIntegers) {
    for (const char* text : {"", "1.2.x", "1..2", "1.", ".1", "-1", "+1", " 1", "1.2 ", "1,2", "1.2-beta", "1e3",
                             "1234567890", "1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1"}) {
        EXPECT_FALSE(ReleaseVersion::Parse(text)) << '"' << text << '"';
    }
    EXPECT_TRUE(ReleaseVersion::Parse("123456789.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1"));
}

TEST(UtcTime, ReadsAndWritesTheSameInstant) {
    struct Known {
        const char* text;
        int64_t unixSeconds;
    };
    for (const Known& c : {Known{"1970-01-01T00:00:00Z", 0}, Known{"1969-12-31T23:59:59Z", -1},
                           Known{"2026-12-11T09:00:00Z", 1796979600}, Known{"2028-02-29T23:59:59Z", 1835481599}}) {
        const auto time = UtcTime::Parse(c.text);
        ASSERT_TRUE(time) << c.text;
        EXPECT_EQ(time->UnixSeconds(), c.unixSeconds) << c.text;
        EXPECT_EQ(UtcTime::FromUnixSeconds(c.unixSeconds).Text(), c.text);
    }
}

}  // namespace
