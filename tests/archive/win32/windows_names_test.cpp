// Entry names on Windows: drive prefixes, ":" that would name a data stream,
// and names in the OEM code page as MS-DOS tools stored them.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "archive/unzip.h"
#include "archive/extract_test_support.h"
#include "archive/frame_test_support.h"
#include "archive/format/error_codes.h"
#include "platform/file_attributes.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class WindowsEntryNames : public ::testing::Test {
protected:

    void Extract(const std::vector<extract_test::Entry>& entries) {
        frame_test::WriteFile(dir_ + "a.zip", extract_test::BuildZip(entries));
        unzip_.SetArchiveFile(dir_ + "a.zip");
        unzip_.SetFileSpec({"*.*"});
        unzip_.SetExtractDir(dir_ + "out");
        unzip_.ExtractFiles();
    }

    TempFolder folder_{"quendal-names"};
    std::string dir_ = folder_.str() + "/";
    TUnZip unzip_;
};

TEST_F(WindowsEntryNames, DrivePrefixIsDroppedAndOtherColonsBecomeUnderscores) {
    Extract({{"C:\\data\\a:b.txt", "one"}, {"d:stream.txt", "two"}, {"sub/x:y:z", "three"}});
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\data\\a_b.txt"), "one");
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\stream.txt"), "two");
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\sub\\x_y_z"), "three");
    // Nothing was written to an alternate data stream of a file or folder.
    EXPECT_FALSE(fs::exists(dir_ + "out\\data\\a"));
    EXPECT_FALSE(fs::exists(dir_ + "out\\sub\\x"));
}

// Nothing reaches a device: a part naming one is written with a "_" in front.
TEST_F(WindowsEntryNames, DeviceNamesAreWrittenAsFiles) {
    unzip_.SetArchiveFile(std::string(QUENDAL_TEST_FIXTURES) + "/names/device-names.zip");
    unzip_.SetFileSpec({"*.*"});
    unzip_.SetExtractDir(dir_ + "out");
    EXPECT_EQ(unzip_.ExtractFiles(), 5);
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\sub\\_AUX"), "aux-data\n");
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\docs\\_nul.txt"), "important text\n");
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\_CON"), "to the console\n");
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\x\\_con.txt"), "also console\n");
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\sub\\readme.txt"), "ok\n");
}

// Windows may read a part of dots and spaces as the parent folder.
TEST_F(WindowsEntryNames, PartsOfDotsAndSpacesAreRefusedAsClimbing) {
    std::vector<int32_t> codes;
    unzip_.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
        codes.push_back(code);
    };
    Extract({{"a/.. /.. /up1.txt", "x"}, {"a/.../up2.txt", "x"}, {"ok.txt", "ok"}});
    EXPECT_EQ(std::count(codes.begin(), codes.end(), ErrorCode::InvalidFileName), 2);
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\ok.txt"), "ok");
    for (const char* up : {"up1.txt", "up2.txt", "out\\up1.txt", "out\\up2.txt"}) EXPECT_FALSE(fs::exists(dir_ + up)) << up;
}

TEST_F(WindowsEntryNames, OemNamesOfMsDosArchivesArriveAsKoreanFileNames) {
    // "한글.txt" as an MS-DOS tool of the Korean market stores it: CP949 bytes, no UTF-8 flag.
    Extract({{"\xC7\xD1\xB1\xDB.txt", "korean"}});
    std::ifstream in(fs::path(dir_) / "out" / fs::path(u8"\uD55C\uAE00.txt"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "korean");
}

TEST_F(WindowsEntryNames, ReadOnlyAttributeRefusesTheOverwrite) {
    fs::create_directories(dir_ + "out");
    frame_test::WriteFile(dir_ + "out\\a.txt", "old");
    ASSERT_TRUE(platform::SetFileAttributes(dir_ + "out\\a.txt", platform::kAttrReadOnly));
    std::vector<int32_t> codes;
    unzip_.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
        codes.push_back(code);
    };
    std::vector<std::string> verdicts;
    unzip_.OnEnd = [&](TObject*, const std::string& file, bool pass) {
        verdicts.push_back(file.substr(file.rfind('\\') + 1) + (pass ? " pass" : " fail"));
    };
    unzip_.SetOverwriteMode(omOverwrite);
    Extract({{"a.txt", "new"}, {"b.txt", "bb"}});
    EXPECT_EQ(codes, std::vector<int32_t>{ErrorCode::OpenError});
    EXPECT_EQ(verdicts, (std::vector<std::string>{"a.txt fail", "b.txt pass"}));
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\a.txt"), "old");
    EXPECT_EQ(frame_test::ReadFile(dir_ + "out\\b.txt"), "bb");
    platform::SetFileAttributes(dir_ + "out\\a.txt", platform::kAttrArchive);
}

}  // namespace
