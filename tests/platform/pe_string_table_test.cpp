#include "platform/pe_string_table.h"

#include "platform/pe_image_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string WriteTemp(const std::vector<uint8_t>& bytes) {
    char pattern[] = "/tmp/quendal-pe-XXXXXX";
    int fd = mkstemp(pattern);
    std::FILE* f = fdopen(fd, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return pattern;
}

TEST(PeStringTable, LoadsStringsOfTheFirstAndLaterBlocks) {
    const std::string path =
        WriteTemp(testing_pe::BuildImage({{1, "7612"}, {2, "25661"}, {7, "압축"}, {15, "last"}, {40, "block three"}}));
    platform::PeStringTable table;
    ASSERT_TRUE(table.Open(path));
    EXPECT_EQ(table.Load(1), "7612");
    EXPECT_EQ(table.Load(2), "25661");
    EXPECT_EQ(table.Load(7), "압축");
    EXPECT_EQ(table.Load(15), "last");
    EXPECT_EQ(table.Load(40), "block three");
    EXPECT_EQ(table.Load(3), std::nullopt);   // empty slot
    EXPECT_EQ(table.Load(20), std::nullopt);  // block without resources
    std::remove(path.c_str());
}

TEST(PeStringTable, RefusesFilesThatAreNoExecutables) {
    platform::PeStringTable table;
    EXPECT_FALSE(table.Open("/nonexistent-quendal/a.exe"));
    const std::string text = WriteTemp(std::vector<uint8_t>(200, 'x'));
    EXPECT_FALSE(table.Open(text));
    EXPECT_EQ(table.Load(1), std::nullopt);
    std::vector<uint8_t> dosOnly = testing_pe::BuildImage({{1, "1"}});
    dosOnly[0x40] = 'N';  // no PE signature
    const std::string stub = WriteTemp(dosOnly);
    EXPECT_FALSE(table.Open(stub));
    std::remove(text.c_str());
    std::remove(stub.c_str());
}

// Lying sizes and offsets, and images cut short, must give no string and no crash.
TEST(PeStringTable, DamagedImagesGiveNoString) {
    const std::vector<uint8_t> good = testing_pe::BuildImage({{1, "12345"}});
    struct Damage {
        const char* what;
        size_t at;
        uint32_t value;
        size_t alsoAt = 0;  // a second patch, when one is needed
        uint32_t alsoValue = 0;
    };
    const Damage damages[] = {
        {"section count beyond the loader's limit", 0x46, 0xFFFF},
        {"optional header size beyond the file", 0x54, 0xFFF0},
        {"resource directory outside every section", 0x58 + 96 + 16, 0x90000},
        {"entry count far beyond the section, wanted entry missing", 0x200 + 14, 0xFFFF, 0x200 + 16, 0x7FFFFF},
        {"type directory offset outside the resources", 0x200 + 20, 0x8000FFF0u},
        {"section stored beyond the end of the file", 0x58 + 224 + 20, 0x7FFFFFF0},
    };
    for (const Damage& d : damages) {
        std::vector<uint8_t> bad = good;
        if (d.value > 0xFFFF)
            testing_pe::Put32(bad, d.at, d.value);
        else
            testing_pe::Put16(bad, d.at, d.value);
        if (d.alsoAt) testing_pe::Put32(bad, d.alsoAt, d.alsoValue);
        const std::string path = WriteTemp(bad);
        platform::PeStringTable table;
        if (table.Open(path)) {
            EXPECT_EQ(table.Load(1), std::nullopt) << d.what;
        }
        std::remove(path.c_str());
    }
    for (size_t cut : {good.size() - 1, good.size() - 40, size_t{0x210}, size_t{0x100}}) {
        const std::string path = WriteTemp(std::vector<uint8_t>(good.begin(), good.begin() + cut));
        platform::PeStringTable table;
        if (table.Open(path)) {
            EXPECT_EQ(table.Load(1), std::nullopt) << "cut at " << cut;
        }
        std::remove(path.c_str());
    }
}

}  // namespace
