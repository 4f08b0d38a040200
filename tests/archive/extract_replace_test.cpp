// Files an entry replaces: the old file stays as it was until the new one
// came out whole, and a failed entry leaves no part of itself behind.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "extract_test_support.h"
#include "frame_test_support.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

using namespace extract_test;
using frame_test::ReadFile;
using frame_test::SampleText;
using frame_test::WriteFile;
namespace fs = std::filesystem;

namespace {

class ExtractReplace : public ExtractFixture {
protected:
    void SetUp() override { fs::create_directories(target_); }

    // Every name in the target folder: no file written on the way is left.
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(target_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ExtractReplace, AFailedEntryLeavesTheOldFileOrNothing) {
    const std::string data = SampleText(100000);
    Entry badCrc("f.bin", data);
    badCrc.packedData = std::string(data.size(), 'x');
    Entry truncated("f.bin", data, 8);
    truncated.packedData = RawDeflate(data).substr(0, 2000);
    struct Case {
        const char* name;
        Entry entry;
        int cancelAtProgress;
    };
    const std::vector<Case> cases = {
        {"CRC mismatch", badCrc, 0},
        {"data cut short", truncated, 0},
        {"cancelled half way", {"f.bin", data}, 1},
    };
    for (const Case& c : cases) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (existing ? " over an existing file" : " as a new file"));
            fs::remove_all(target_);
            fs::create_directories(target_);
            if (existing) WriteFile(target_ + "f.bin", "the old content");
            log_.lines.clear();
            log_.cancelAtProgress = c.cancelAtProgress;
            Run({c.entry});
            EXPECT_NE(std::find(log_.lines.begin(), log_.lines.end(), "End f.bin fail"), log_.lines.end());
            if (existing) {
                EXPECT_EQ(ReadFile(target_ + "f.bin"), "the old content");
                EXPECT_EQ(Names(), std::vector<std::string>{"f.bin"});
            } else {
                EXPECT_EQ(Names(), std::vector<std::string>{});
            }
        }
    }
}

// The new content takes the old file's place with the entry's date, and the
// old file's permissions unless the entry brings its own.
TEST_F(ExtractReplace, AWholeEntryReplacesTheOldFile) {
    WriteFile(target_ + "kept-mode", "old");
    WriteFile(target_ + "own-mode", "old");
    if (!kWindowsBuild) {
        fs::permissions(target_ + "kept-mode", fs::perms(0751));
        fs::permissions(target_ + "own-mode", fs::perms(0777));
    }
    const uint32_t unixMode = (0100640u << 16) | 0x20;
    EXPECT_EQ(Run({{"kept-mode", "new one"}, {"own-mode", "new two", 8, unixMode}}), 2);
    EXPECT_EQ(ReadFile(target_ + "kept-mode"), "new one");
    EXPECT_EQ(ReadFile(target_ + "own-mode"), "new two");
    EXPECT_EQ(Names(), (std::vector<std::string>{"kept-mode", "own-mode"}));

    struct stat st {};
    ASSERT_EQ(stat((target_ + "kept-mode").c_str(), &st), 0);
    const std::tm local = *std::localtime(&st.st_mtime);
    EXPECT_EQ(local.tm_year + 1900, 2021);
    EXPECT_EQ(local.tm_min, 20);
    if (!kWindowsBuild) {
        EXPECT_EQ(st.st_mode & 07777, 0751u);
        EXPECT_EQ(fs::status(target_ + "own-mode").permissions(), fs::perms(0640));
    }
}

}  // namespace
