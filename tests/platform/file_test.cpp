#include "platform/errors.h"
#include "platform/file.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include "support/temp_folder.h"

namespace {

TEST(File, CreateWriteSeekReadAndResize) {
    const TempFolder scratch;
    std::string dir = scratch.str() + "/";
    platform::File file;
    ASSERT_TRUE(file.Open(dir + "a.bin", platform::File::Mode::CreateAlways));
    EXPECT_EQ(file.Write("hello world", 11), 11);
    EXPECT_EQ(file.Size(), 11);
    EXPECT_EQ(file.Seek(6, platform::File::Origin::Begin), 6);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
    ASSERT_TRUE(file.SetSize(5));
    EXPECT_EQ(file.Size(), 5);
    file.Close();
    EXPECT_TRUE(platform::FileExists(dir + "a.bin"));
    EXPECT_TRUE(platform::RemoveFile(dir + "a.bin"));
    EXPECT_FALSE(platform::FileExists(dir + "a.bin"));
}

TEST(File, FailedOpenLeavesTheSystemReason) {
    platform::File file;
    EXPECT_FALSE(file.Open("/nonexistent-quendal/x", platform::File::Mode::CreateAlways));
    EXPECT_EQ(platform::LastError(), ENOENT);
    EXPECT_FALSE(file.IsOpen());
    EInOutError error(ENOENT);
    EXPECT_EQ(error.ErrorCode(), ENOENT);
    EXPECT_EQ(std::string(error.what()), platform::ErrorText(ENOENT));
}

TEST(FileSystem, CreatesOneFolderLevelOnly) {
    const TempFolder scratch;
    std::string dir = scratch.str() + "/";
    EXPECT_TRUE(platform::CreateDir(dir + "one"));
    EXPECT_TRUE(platform::DirectoryExists(dir + "one"));
    EXPECT_FALSE(platform::FileExists(dir + "one"));
    EXPECT_FALSE(platform::CreateDir(dir + "missing/two"));
}

TEST(FileSystem, ProgramFolderIsTheExecutablesFolderWithSeparator) {
    std::string folder = platform::ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(platform::DirectoryExists(folder));
    EXPECT_EQ(folder, std::string(QUENDAL_BUILD_DIR) + "/tests/");
}

}  // namespace
