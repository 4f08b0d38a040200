#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file_attributes.h"
#include "platform/file_handle.h"
#include "platform/file_times.h"
#include "platform/file_system.h"
#include "platform/temp_files.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const std::string& path) { return static_cast<unsigned>(fs::status(path).permissions() & fs::perms::mask); }

TEST(FileAttributes, ReadAndApply) {
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    const std::string file = dir + "f.txt";
    std::ofstream(file) << "x";
    EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrArchive);
    EXPECT_EQ(platform::GetFileAttributes(dir), platform::kAttrDirectory);
    EXPECT_EQ(platform::GetFileAttributes(dir + "missing"), -1);

    ASSERT_TRUE(platform::SetFileAttributes(file, platform::kAttrReadOnly | platform::kAttrArchive));
    EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrReadOnly | platform::kAttrArchive);
    ASSERT_TRUE(platform::SetFileAttributes(file, platform::kAttrArchive));
    EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrArchive);
}

TEST(FileAttributes, UnixModesAreApplied) {
    SKIP_ON_WINDOWS("Windows files have no Unix modes: only the read-only bit is applied there");
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    const std::string file = dir + "f.txt";
    std::ofstream(file) << "x";
    fs::permissions(file, static_cast<fs::perms>(0644));

    // DOS bits only: read-only removes the write permissions, and clearing it restores them.
    ASSERT_TRUE(platform::SetFileAttributes(file, platform::kAttrReadOnly | platform::kAttrArchive));
    EXPECT_EQ(ModeOf(file), 0444u);
    ASSERT_TRUE(platform::SetFileAttributes(file, platform::kAttrArchive));
    EXPECT_EQ(ModeOf(file), 0644u);

    // A Unix mode in the high half is applied as it stands: executables stay executable.
    ASSERT_TRUE(platform::SetFileAttributes(file, (0100755u << 16) | platform::kAttrArchive));
    EXPECT_EQ(ModeOf(file), 0755u);
    const std::string sub = dir + "sub";
    fs::create_directory(sub);
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
    const std::tm tm = *std::localtime(&st.st_mtime);
    EXPECT_EQ(tm.tm_year + 1900, 2001);
    EXPECT_EQ(tm.tm_mon + 1, 5);
    EXPECT_EQ(tm.tm_mday, 1);
    EXPECT_EQ(tm.tm_hour, 12);
    EXPECT_EQ(tm.tm_min, 30);
    EXPECT_EQ(tm.tm_sec, 10);

    platform::LocalDateTime created;
    ASSERT_TRUE(platform::GetFileCreationTime(dir + "t.bin", created));
    // Wine takes a file's creation time from its Unix times, which the write time above changed.
    EXPECT_GE(created.year, kWindowsBuild ? 2001 : 2020);
    EXPECT_FALSE(platform::GetFileCreationTime(dir + "missing", created));
}

TEST(TempFiles, UniqueFilesWithThePrefix) {
    const TempFolder folder;
    const std::string dir = (folder.path() / "").string();
    const std::string a = platform::CreateTempFile(dir, "krv");
    const std::string b = platform::CreateTempFile(dir.substr(0, dir.size() - 1), "krv");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir + "krv", 0), 0u);
    EXPECT_EQ(b.rfind(dir + "krv", 0), 0u);
    EXPECT_TRUE(fs::exists(a));
    EXPECT_EQ(platform::CreateTempFile(dir + "missing", "krv"), "");
    EXPECT_EQ(platform::CurrentDirectory().back(), platform::kPathSeparator);
    EXPECT_EQ(platform::TempFolder().back(), platform::kPathSeparator);
}

TEST(FileHandles, DiskFullErrorCode) {
    // The system's own codes: errno values, or ERROR_DISK_FULL and ERROR_HANDLE_DISK_FULL.
    const std::vector<int> full = kWindowsBuild ? std::vector<int>{112, 39} : std::vector<int>{ENOSPC};
    for (int code : full) EXPECT_TRUE(platform::IsDiskFullError(code)) << code;
    EXPECT_FALSE(platform::IsDiskFullError(EIO));
    EXPECT_FALSE(platform::IsDiskFullError(0));
}

}  // namespace
