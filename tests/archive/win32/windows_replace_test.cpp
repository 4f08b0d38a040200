// Replacing files on Windows: what could not be overwritten in place is
// still refused before anything is written, and the file stays as it was.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/extract_test_support.h"
#include "archive/unzip.h"
#include "archive/frame_test_support.h"
#include "platform/file_attributes.h"
#include "platform/file_handle.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

TEST(WindowsReplace, FilesThatCannotBeOverwrittenAreRefusedFirst) {
    TempFolder folder{"quendal-replace"};
    const std::string dir = folder.str() + "\\";
    fs::create_directories(dir + "out");
    for (const char* name : {"held.txt", "hidden.txt", "free.txt"}) frame_test::WriteFile(dir + "out\\" + name, "old");
    // Windows refuses to create over a hidden file (Wine does not): it is not replaced either.
    ASSERT_TRUE(platform::SetFileAttributes(dir + "out\\hidden.txt", platform::kAttrHidden));
    // Another program reads the file and lets nobody write it meanwhile.
    const int held = platform::OpenFileHandle(dir + "out\\held.txt", platform::FileAccess::Read, platform::FileShare::DenyWrite);
    ASSERT_GE(held, 0);

    frame_test::WriteFile(dir + "a.zip", extract_test::BuildZip({{"held.txt", "new"}, {"hidden.txt", "new"},
                                                                  {"free.txt", "new"}}));
    TUnZip unzip;
    extract_test::EventLog log(unzip);
    log.folder = dir + "out\\";
    unzip.SetArchiveFile(dir + "a.zip");
    unzip.SetFileSpec({"*.*"});
    unzip.SetExtractDir(dir + "out");
    EXPECT_EQ(unzip.ExtractFiles(), 1);
    platform::CloseFileHandle(held);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Activate", "Begin held.txt 1", "Error 25235 held.txt",
                                                   "Progress 100 33", "End held.txt fail", "Begin hidden.txt 1",
                                                   "Error 25235 hidden.txt", "Progress 100 67", "End hidden.txt fail",
                                                   "Begin free.txt 1", "Progress 100 100", "End free.txt pass",
                                                   "Deactivate"}));
    EXPECT_EQ(frame_test::ReadFile(dir + "out\\held.txt"), "old");
    EXPECT_EQ(frame_test::ReadFile(dir + "out\\hidden.txt"), "old");
    EXPECT_EQ(frame_test::ReadFile(dir + "out\\free.txt"), "new");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir + "out")) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names.size(), 3u);
}

}  // namespace
