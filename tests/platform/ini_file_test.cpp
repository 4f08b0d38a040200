#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"
#include "support/windows_skip.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(IniFile, CreatesTheFileWithSectionAndKey) {
    const TempFolder folder;
    std::string path = folder.str() + "/" + "Vkr.dat";
    ASSERT_TRUE(platform::WriteProfileString("Update", "Work", "False", path));
    EXPECT_EQ(Read(path), "[Update]\r\nWork=False\r\n");
}

struct EditCase {
    const char* name;
    const char* before;
    const char* after;
    friend void PrintTo(const EditCase& c, std::ostream* os) { *os << c.name; }
};

class IniEdit : public testing::TestWithParam<EditCase> {};

TEST_P(IniEdit, ChangesOnlyTheKeyLine) {
    SKIP_ON_WINDOWS("these byte layouts are the POSIX stand-in's; on Windows the system's profile API lays out "
                    "the file (Win32Files.ProfileWriteKeepsOtherSectionsAndMatchesWithoutCase)");
    const TempFolder folder;
    std::string path = folder.str() + "/" + "flag.dat";
    Write(path, GetParam().before);
    ASSERT_TRUE(platform::WriteProfileString("Update", "Work", "False", path));
    EXPECT_EQ(Read(path), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniEdit,
    testing::Values(
        EditCase{"ReplacesExistingKeyIgnoringCase",
                 "; comment kept\r\n[other]\r\nWork=1\r\n\r\n[UPDATE]\r\n  work = True\r\nx=1\r\n",
                 "; comment kept\r\n[other]\r\nWork=1\r\n\r\n[UPDATE]\r\nWork=False\r\nx=1\r\n"},
        EditCase{"AddsKeyAfterTheSectionsLastLine",
                 "[Update]\r\nVersion=3\r\n\r\n[Tail]\r\nA=B\r\n",
                 "[Update]\r\nVersion=3\r\nWork=False\r\n\r\n[Tail]\r\nA=B\r\n"},
        EditCase{"AppendsMissingSectionKeepingUnixLineEnds",
                 "[Main]\nname = x ; odd = spacing\n",
                 "[Main]\nname = x ; odd = spacing\n[Update]\nWork=False\n"},
        EditCase{"TerminatesALastLineWithoutNewline",
                 "[Main]\r\nA=1",
                 "[Main]\r\nA=1\n[Update]\r\nWork=False\r\n"},
        EditCase{"CommentedKeyIsNotTheKey",
                 "[Update]\r\n;Work=True\r\n",
                 "[Update]\r\n;Work=True\r\nWork=False\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniFile, SecondWriteLeavesOneLine) {
    const TempFolder folder;
    std::string path = folder.str() + "/" + "Vkr.dat";
    ASSERT_TRUE(platform::WriteProfileString("Update", "Work", "False", path));
    ASSERT_TRUE(platform::WriteProfileString("update", "WORK", "False", path));
    // The profile API keeps the key's first spelling; the stand-in writes the latest.
    EXPECT_EQ(Read(path), kWindowsBuild ? "[Update]\r\nWork=False\r\n" : "[Update]\r\nWORK=False\r\n");
}

TEST(IniFile, UnwritableFolderFailsWithoutThrowing) {
    EXPECT_FALSE(platform::WriteProfileString("Update", "Work", "False", "/nonexistent-quendal/Vkr.dat"));
}

TEST(IniFile, ReadOnlyFileIsLeftAsItIs) {
    const TempFolder folder;
    std::string path = folder.str() + "/" + "Vkr.dat";
    Write(path, "[Update]\r\nWork=True\r\n");
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_FALSE(platform::WriteProfileString("Update", "Work", "False", path));
    EXPECT_EQ(Read(path), "[Update]\r\nWork=True\r\n");
}

}  // namespace
