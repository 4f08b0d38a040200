// The extra-field blocks that name an entry and date it: which one wins, and
// short or lying blocks that must give nothing rather than read past the field.

#include "archive/reader/extra_fields.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

namespace {

std::string Le(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string Block(uint16_t tag, const std::string& data, std::optional<uint16_t> declared = std::nullopt) {
    return Le(tag, 2) + Le(declared.value_or(static_cast<uint16_t>(data.size())), 2) + data;
}

TExtraField Field(const std::string& bytes) { return TExtraField(std::vector<uint8_t>(bytes.begin(), bytes.end())); }

constexpr int64_t kUt = 981173106;
constexpr int64_t kNtfs = 1000000000;
constexpr int64_t kOld = 900000000;

const std::string kExtended = Block(0x5455, Le(1, 1) + Le(kUt, 4));
const std::string kNtfsTimes = Block(0x000a, Le(0, 4) + Le(1, 2) + Le(24, 2) + Le((kNtfs + 11644473600) * 10000000 + 5, 8) +
                                                 Le(0, 8) + Le(0, 8));
const std::string kOldUnix = Block(0x5855, Le(1, 4) + Le(kOld, 4));

TEST(ExtraFields, ModificationTimeTakesTheBestBlockAndIgnoresBrokenOnes) {
    struct Case {
        const char* name;
        std::string field;
        std::optional<int64_t> seconds;
    };
    const Case cases[] = {
        {"extended timestamp over NTFS over the old Unix field", kOldUnix + kNtfsTimes + kExtended, kUt},
        {"NTFS over the old Unix field", kOldUnix + kNtfsTimes, kNtfs},
        {"the old Unix field alone", Block(0x0001, Le(7, 8)) + kOldUnix, kOld},
        {"an extended timestamp without its modification bit", Block(0x5455, Le(2, 1) + Le(kUt, 4)) + kOldUnix, kOld},
        {"an extended timestamp cut short", Block(0x5455, Le(1, 1) + Le(kUt, 2)), std::nullopt},
        {"an NTFS attribute longer than its block", Block(0x000a, Le(0, 4) + Le(1, 2) + Le(24, 2) + Le(1, 8)), std::nullopt},
        {"a block declared longer than the field", Block(0x5455, Le(1, 1) + Le(kUt, 4), 200), std::nullopt},
        {"nothing at all", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<platform::UtcFileTime> time = Field(c.field).ModificationTime();
        ASSERT_EQ(time.has_value(), c.seconds.has_value());
        if (time) {
            EXPECT_EQ(time->seconds, *c.seconds);
        }
    }
    EXPECT_EQ(Field(kNtfsTimes).ModificationTime()->nanoseconds, 500u);
}

TEST(ExtraFields, AUnicodePathCountsOnlyForTheNameItWasWrittenFor) {
    const std::string stored = "\xB0\xA1.txt";
    const auto crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(stored.data()), stored.size()));
    struct Case {
        const char* name;
        std::string field;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"matching", Block(0x7075, Le(1, 1) + Le(crc, 4) + "가.txt"), "가.txt"},
        {"written for another name", Block(0x7075, Le(1, 1) + Le(crc ^ 1, 4) + "가.txt"), std::nullopt},
        {"an unknown version", Block(0x7075, Le(2, 1) + Le(crc, 4) + "가.txt"), std::nullopt},
        {"no name in it", Block(0x7075, Le(1, 1) + Le(crc, 4)), std::nullopt},
        {"cut before its CRC", Block(0x7075, Le(1, 1) + Le(crc, 2)), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Field(c.field).UnicodePath(stored), c.expected);
    }
}

}  // namespace
