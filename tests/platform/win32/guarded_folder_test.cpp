// Windows has no descriptor-relative calls: a guarded folder keeps the
// folders it walked from being swapped by holding each without delete
// sharing.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/guarded_folder.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

bool Rename(const fs::path& from, const fs::path& to) { return ::MoveFileExW(from.c_str(), to.c_str(), 0) != 0; }

TEST(GuardedFolderWin32, TheWalkedFoldersCannotBeRenamedOrRemovedWhileItIsOpen) {
    TempFolder folder;
    fs::create_directories(folder / "a" / "b");
    {
        platform::GuardedFolder guarded;
        ASSERT_TRUE(guarded.Open(folder.str(), "a\\b"));

        EXPECT_FALSE(Rename(folder / "a" / "b", folder / "a" / "moved"));
        EXPECT_FALSE(Rename(folder / "a", folder / "moved"));
        EXPECT_FALSE(::RemoveDirectoryW((folder / "a" / "b").c_str()));
        // What happens inside goes on.
        EXPECT_TRUE(guarded.CreateFolder("c"));
        EXPECT_TRUE(guarded.Move("c", guarded, "d"));
        EXPECT_TRUE(guarded.RemoveTree("d"));
    }
    EXPECT_TRUE(Rename(folder / "a" / "b", folder / "a" / "moved"));
}

}  // namespace
