#include "platform/drive_info.h"
#include "platform/file_system.h"
#ifndef _WIN32
#include "platform/posix/drive_info_posix.h"
#endif

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace {

auto DeviceOf(const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_dev;
}

TEST(DriveInfo, TheSystemDriveOfAFileIsItsMountPoint) {
    SKIP_ON_WINDOWS("Windows volumes are drive letters, not mount points (Win32Drives tests them)");
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    const std::string root = platform::Drives().RootOf(dir + "missing/archive.zip");
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(DeviceOf(root), DeviceOf(dir));
    if (root != "/") {
        const std::string above = root.substr(0, root.rfind('/', root.size() - 2) + 1);
        EXPECT_NE(DeviceOf(above), DeviceOf(root)) << "a mount point ends where the device changes";
    }
}

TEST(DriveInfo, TheDriveOfAFileAnswersEveryQuery) {
    const TempFolder folder;
    const std::string dir = (folder.path() / "").string();
    platform::DriveInfo& drives = platform::Drives();
    const std::string root = drives.RootOf(dir + "missing/archive.zip");
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(root.back(), platform::kPathSeparator);
    EXPECT_EQ(dir.compare(0, root.size(), root), 0) << root << " is no prefix of " << dir;
    EXPECT_NE(drives.TypeOf(root), platform::DriveType::NoRootDirectory);
    EXPECT_EQ(drives.TypeOf(dir + "missing/"), platform::DriveType::NoRootDirectory);
    auto space = drives.SpaceOf(root);
    ASSERT_TRUE(space.has_value());
    EXPECT_GT(space->totalBytes, 0u);
    EXPECT_LE(space->freeBytes, space->totalBytes);
    int error = 0;
    auto volume = drives.VolumeOf(root, error);
    ASSERT_TRUE(volume.has_value());
    EXPECT_FALSE(volume->fileSystemName.empty());
    EXPECT_GT(volume->maxComponentLength, 0u);
    EXPECT_FALSE(drives.VolumeOf(dir + "missing/", error).has_value());
    EXPECT_NE(error, 0);
}

TEST(DriveInfo, RelativePathsAreTakenFromTheCurrentFolder) {
    platform::DriveInfo& drives = platform::Drives();
    EXPECT_EQ(drives.RootOf("no-such-file.zip"), drives.RootOf("./"));
}

TEST(DriveInfo, AWritableRootIsNotWriteProtected) {
    const TempFolder folder;
    const std::string dir = folder.str() + "/";
    EXPECT_FALSE(platform::Drives().IsWriteProtected(platform::Drives().RootOf(dir)));
}

TEST(DriveInfo, ByLabelNamesAreDecoded) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows gives volume labels through GetVolumeInformationW, not as /dev/disk/by-label names";
#else
    EXPECT_EQ(platform::DecodeDeviceLabel("PKBACK#\\x20001"), "PKBACK# 001");
    EXPECT_EQ(platform::DecodeDeviceLabel("plain"), "plain");
    EXPECT_EQ(platform::DecodeDeviceLabel("odd\\x2"), "odd\\x2");
    EXPECT_EQ(platform::DecodeDeviceLabel("a\\x2Fb"), "a/b");
#endif
}

class OneDrive : public platform::DriveInfo {
public:
    std::string RootOf(const std::string&) override { return "/fake/"; }
    platform::DriveType TypeOf(const std::string&) override { return platform::DriveType::Removable; }
    std::optional<platform::DiskSpace> SpaceOf(const std::string&) override { return std::nullopt; }
    bool IsWriteProtected(const std::string&) override { return true; }
    std::optional<platform::VolumeInformation> VolumeOf(const std::string&, int&) override { return std::nullopt; }
};

TEST(DriveInfo, AReplacementAnswersUntilRemoved) {
    OneDrive fake;
    platform::SetDriveInfo(&fake);
    EXPECT_EQ(platform::Drives().RootOf("/anything"), "/fake/");
    platform::SetDriveInfo(nullptr);
    EXPECT_NE(platform::Drives().RootOf("/tmp/x"), "/fake/");
}

TEST(DriveInfo, TheNotAccessiblePromptAnswersCancelUntilInstalled) {
    EXPECT_FALSE(platform::AskRetryDriveNotAccessible("X:\\is not accessible"));
    std::string shown;
    platform::SetDriveNotAccessiblePrompt([&](const std::string& text) {
        shown = text;
        return true;
    });
    EXPECT_TRUE(platform::AskRetryDriveNotAccessible("message"));
    EXPECT_EQ(shown, "message");
    platform::SetDriveNotAccessiblePrompt(nullptr);
    EXPECT_FALSE(platform::AskRetryDriveNotAccessible("message"));
}

}  // namespace
