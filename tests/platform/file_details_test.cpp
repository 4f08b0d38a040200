#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <string>

#include "platform/file_attributes.h"
#include "platform/file_handle.h"
#include "platform/file_times.h"
#include "platform/file_system.h"
#include "platform/temp_files.h"
#include "support/temp_folder.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(FileAttributes, ReadAndApply) {
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    const std::string file = dir + "f.txt";
    std::ofstream(file) << "x";
    chmod(file.c_str(), 0644);
    EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrArchive);
    EXPECT_EQ(platform::GetFileAttributes(dir), platform::kAttrDirectory);
    EXPECT_EQ(platform::GetFileAttributes(dir + "missing"), -1);

    // DOS bits only: read-only removes the write permissions, and clearing it restores them.
    ASSERT_TRUE(platform::SetFileAttributes(file, platform::kAttrReadOnly | platform::kAttrArchive));
    EXPECT_EQ(ModeOf(file), 0444u);
    EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrReadOnly | platform::kAttrArchive);
    ASSERT_TRUE(platform::SetFileAttributes(file, platform::kAttrArchive));
    EXPECT_EQ(ModeOf(file), 0644u);

    // A Unix mode in the high half is applied as it stands: executables stay executable.
    ASSERT_TRUE(platform::SetFileAttributes(file, (0100755u << 16) | platform::kAttrArchive));
    EXPECT_EQ(ModeOf(file), 0755u);
    const std::string sub = dir + "sub";
    mkdir(sub.c_str(), 0777);
    ASSERT_TRUE(platform::SetFileAttributes(sub, (040700u << 16) | platform::kAttrDirectory));
    EXPECT_EQ(ModeOf(sub), 0700u);
    // A symbolic-link mode is not a file mode: only the DOS bits count.
    ASSERT_TRUE(platform::SetFileAttributes(file, (0120777u << 16) | platform::kAttrReadOnly));
    EXPECT_EQ(ModeOf(file), 0555u);
}

TEST(FileTimes, WriteTimeIsSetAsLocalTime) {
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    const int handle = platform::CreateFileHandle(dir + "t.bin");
    ASSERT_GE(handle, 0);
    ASSERT_TRUE(platform::SetFileWriteTime(handle, {2001, 5, 1, 12, 30, 10}));
    platform::CloseFileHandle(handle);
    struct stat st {};
    ASSERT_EQ(stat((dir + "t.bin").c_str(), &st), 0);
    std::tm tm {};
    localtime_r(&st.st_mtime, &tm);
    EXPECT_EQ(tm.tm_year + 1900, 2001);
    EXPECT_EQ(tm.tm_mon + 1, 5);
    EXPECT_EQ(tm.tm_mday, 1);
    EXPECT_EQ(tm.tm_hour, 12);
    EXPECT_EQ(tm.tm_min, 30);
    EXPECT_EQ(tm.tm_sec, 10);

    platform::LocalDateTime created;
    ASSERT_TRUE(platform::GetFileCreationTime(dir + "t.bin", created));
    EXPECT_GE(created.year, 2020);
    EXPECT_FALSE(platform::GetFileCreationTime(dir + "missing", created));
}

TEST(TempFiles, UniqueFilesWithThePrefix) {
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    const std::string a = platform::CreateTempFile(dir, "krv");
    const std::string b = platform::CreateTempFile(dir.substr(0, dir.size() - 1), "krv");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir + "krv", 0), 0u);
    EXPECT_EQ(b.rfind(dir + "krv", 0), 0u);
    EXPECT_EQ(access(a.c_str(), F_OK), 0);
    EXPECT_EQ(platform::CreateTempFile(dir + "missing", "krv"), "");
    EXPECT_EQ(platform::CurrentDirectory().back(), '/');
    EXPECT_EQ(platform::TempFolder().back(), '/');
}

TEST(FileHandles, DiskFullErrorCode) {
    EXPECT_TRUE(platform::IsDiskFullError(ENOSPC));
    EXPECT_FALSE(platform::IsDiskFullError(EIO));
    EXPECT_FALSE(platform::IsDiskFullError(0));
}

}  // namespace
