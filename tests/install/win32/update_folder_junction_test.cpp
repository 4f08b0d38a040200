// Junctions planted in the updater's folder on Windows, which any user can
// make without a privilege: the updater removes or sets them aside as
// themselves and never reaches the folder they name.

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "install/install_file_system.h"
#include "install/update_folder.h"
#include "install/update_folder_guard.h"
#include "platform/win32/reparse_data.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

using test_files::ReadAll;
using test_files::WriteFile;

// Makes `junction` a new folder that is a junction to the folder `target`
// (absolute), as mklink /J would; false when the system cannot.
bool MakeJunction(const fs::path& junction, const fs::path& target) {
    if (!::CreateDirectoryW(junction.c_str(), nullptr)) return false;
    const HANDLE folder = ::CreateFileW(junction.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    // The mount-point reparse data: the name the system follows ("\??\C:\..."),
    // then the name shown, each ending in a NUL.
    const std::wstring substitute = L"\\??\\" + target.wstring();
    const std::wstring print = target.wstring();
    const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const USHORT printBytes = static_cast<USHORT>(print.size() * sizeof(wchar_t));
    const USHORT pathBytes = substituteBytes + printBytes + 2 * sizeof(wchar_t);
    const platform::LinkReparseHeader header{IO_REPARSE_TAG_MOUNT_POINT, static_cast<USHORT>(8 + pathBytes), 0, 0,
                                             substituteBytes, static_cast<USHORT>(substituteBytes + sizeof(wchar_t)),
                                             printBytes};
    std::vector<char> buffer(sizeof header + pathBytes, '\0');
    std::memcpy(buffer.data(), &header, sizeof header);
    std::memcpy(buffer.data() + sizeof header, substitute.c_str(), substituteBytes);
    std::memcpy(buffer.data() + sizeof header + substituteBytes + sizeof(wchar_t), print.c_str(), printBytes);
    DWORD returned = 0;
    const BOOL made = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    ::CloseHandle(folder);
    const DWORD attributes = ::GetFileAttributesW(junction.c_str());
    return made && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           fs::exists(junction / "a.txt");
}

class UpdateFolderJunctionTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(outside_ / "a.txt", "precious a");
        WriteFile(outside_ / "sub" / "b.txt", "precious b");
        fs::create_directories(program_ / ".quendal-update");
    }
    void TearDown() override {
        // A junction left by a failed test is removed as itself, never emptied through.
        for (const fs::path& planted : {program_ / ".quendal-update" / "stage", program_ / ".quendal-update.set-aside-1"})
            ::RemoveDirectoryW(planted.c_str());
    }

    // Skips when the system (Wine 8) cannot make a junction.
    bool Plant(const fs::path& junction) {
        if (MakeJunction(junction, outside_.path())) return true;
        std::error_code ignored;
        fs::remove(junction, ignored);
        return false;
    }
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ReadAll(outside_ / "a.txt"), "precious a");
        EXPECT_EQ(ReadAll(outside_ / "sub" / "b.txt"), "precious b");
    }
    TUpdateFolder Folder() const { return {program_.str() + "\\"}; }

    TempFolder program_{"quendal-program"};
    TempFolder outside_{"quendal-outside"};
};

TEST_F(UpdateFolderJunctionTest, AStageThatIsAJunctionIsRemovedAsItself) {
    if (!Plant(program_ / ".quendal-update" / "stage"))
        GTEST_SKIP() << "this system cannot make a junction (Wine 8 does not implement FSCTL_SET_REPARSE_POINT)";
    TInstallFileSystem files;

    EXPECT_FALSE(files.FolderExists(Folder().Stage()));
    EXPECT_FALSE(files.ListFolder(Folder().Stage()));
    EXPECT_FALSE(files.WriteFile(Folder().Stage() + "a.txt", "overwritten"));
    EXPECT_TRUE(files.RemoveTree(Folder().Stage()));

    EXPECT_FALSE(fs::exists(fs::symlink_status(program_ / ".quendal-update" / "stage")));
    ExpectOutsideUntouched();
}

TEST_F(UpdateFolderJunctionTest, AnUpdatersFolderThatIsAJunctionIsSetAside) {
    fs::remove(program_ / ".quendal-update");
    if (!Plant(program_ / ".quendal-update"))
        GTEST_SKIP() << "this system cannot make a junction (Wine 8 does not implement FSCTL_SET_REPARSE_POINT)";
    TInstallFileSystem files;

    const TUpdateFolderRepair repair = SecureUpdateFolder(files, Folder());
    EXPECT_TRUE(files.RemoveTree(Folder().Stage()));
    EXPECT_TRUE(files.AppendFile(Folder().Log(), "a line\n"));

    EXPECT_EQ(repair.setAsideAs, ".quendal-update.set-aside-1");
    const DWORD setAside = ::GetFileAttributesW((program_ / ".quendal-update.set-aside-1").c_str());
    EXPECT_TRUE(setAside != INVALID_FILE_ATTRIBUTES && (setAside & FILE_ATTRIBUTE_REPARSE_POINT));
    const DWORD fresh = ::GetFileAttributesW((program_ / ".quendal-update").c_str());
    EXPECT_TRUE(fresh != INVALID_FILE_ATTRIBUTES && !(fresh & FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_FALSE(fs::exists(outside_ / "update.log"));
    ExpectOutsideUntouched();
}

}  // namespace
