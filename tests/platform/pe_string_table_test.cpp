#include "platform/pe_string_table.h"

#include "platform/pe_image_builder.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Each image goes to a file of its own in the test's folder.
std::string WriteTemp(const TempFolder& folder, const std::vector<uint8_t>& bytes) {
    static int count = 0;
    const std::string path = (folder / ("image-" + std::to_string(++count) + ".exe")).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(PeStringTable, LoadsStringsOfTheFirstAndLaterBlocks) {
    const TempFolder folder;
    const std::string path =
        WriteTemp(folder, testing_pe::BuildImage({{1, "7612"}, {2, "25661"}, {7, "압축"}, {15, "last"}, {40, "block three"}}));
    platform::PeStringTable table;
    ASSERT_TRUE(table.Open(path));
    EXPECT_EQ(table.Load(1), "7612");
    EXPECT_EQ(table.Load(2), "25661");
    EXPECT_EQ(table.Load(7), "압축");
    EXPECT_EQ(table.Load(15), "last");
    EXPECT_EQ(table.Load(40), "block three");
    EXPECT_EQ(table.Load(3), std::nullopt);   // empty slot
    EXPECT_EQ(table.Load(20), std::nullopt);  // block without resources
}

TEST(PeStringTable, RefusesFilesThatAreNoExecutables) {
    const TempFolder folder;
    platform::PeStringTable table;
    EXPECT_FALSE(table.Open("/nonexistent-quendal/a.exe"));
    const std::string text = WriteTemp(folder, std::vector<uint8_t>(200, 'x'));
    EXPECT_FALSE(table.Open(text));
    EXPECT_EQ(table.Load(1), std::nullopt);
    std::vector<uint8_t> dosOnly = testing_pe::BuildImage({{1, "1"}});
    dosOnly[0x40] = 'N';  // no PE signature
    const std::string stub = WriteTemp(folder, dosOnly);
    EXPECT_FALSE(table.Open(stub));
}

// Lying sizes and offsets, and images cut short, must give no string and no crash.
TEST(PeStringTable, DamagedImagesGiveNoString) {
    const TempFolder folder;
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
        const std::string path = WriteTemp(folder, bad);
        platform::PeStringTable table;
        if (table.Open(path)) {
            EXPECT_EQ(table.Load(1), std::nullopt) << d.what;
        }
    }
    for (size_t cut : {good.size() - 1, good.size() - 40, size_t{0x210}, size_t{0x100}}) {
        const std::string path = WriteTemp(folder, std::vector<uint8_t>(good.begin(), good.begin() + cut));
        platform::PeStringTable table;
        if (table.Open(path)) {
            EXPECT_EQ(table.Load(1), std::nullopt) << "cut at " << cut;
        }
    }
}

}  // namespace
