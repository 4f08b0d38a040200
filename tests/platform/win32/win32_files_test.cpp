// Behaviour only the Windows build has: real attributes, the profile API,
// drive letters and volumes.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/drive_info.h"
#include "platform/errors.h"
#include "platform/file_attributes.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "support/temp_folder.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Win32Files, ReadOnlyAndHiddenAttributesAreRealAndRefuseAnOverwrite) {
    TempFolder folder;
    const std::string path = folder.str() + "\\kept.txt";
    std::ofstream(path, std::ios::binary) << "old";
    ASSERT_TRUE(platform::SetFileAttributes(path, platform::kAttrReadOnly | platform::kAttrHidden));
    EXPECT_EQ(platform::GetFileAttributes(path) & 0x03, 0x03);

    EXPECT_EQ(platform::CreateFileHandle(path), -1);
    EXPECT_EQ(platform::LastError(), 5);  // access denied
    EXPECT_EQ(ReadAll(path), "old");

    ASSERT_TRUE(platform::SetFileAttributes(path, 0));
    EXPECT_EQ(platform::GetFileAttributes(path) & 0x03, 0);
    const int handle = platform::CreateFileHandle(path);
    ASSERT_GE(handle, 0);
    platform::CloseFileHandle(handle);
}

TEST(Win32Files, ProfileWriteKeepsOtherSectionsAndMatchesWithoutCase) {
    TempFolder folder;
    const std::string path = folder.str() + "\\Vkr.dat";
    std::ofstream(path, std::ios::binary) << "[Other]\r\nWork=True\r\n[update]\r\nWork=True\r\nMore=1\r\n";
    ASSERT_TRUE(platform::WriteProfileString("Update", "work", "False", path));
    const std::string text = ReadAll(path);
    EXPECT_NE(text.find("[Other]\r\nWork=True\r\n"), std::string::npos) << text;
    // The key keeps the spelling it had; only its value changes.
    EXPECT_NE(text.find("[update]\r\nWork=False\r\nMore=1\r\n"), std::string::npos) << text;

    // A missing file is made with the section and the key.
    const std::string fresh = folder.str() + "\\new.dat";
    ASSERT_TRUE(platform::WriteProfileString("Update", "Work", "False", fresh));
    EXPECT_NE(ReadAll(fresh).find("[Update]\r\nWork=False"), std::string::npos);
}

TEST(Win32Drives, DriveLettersNameTheRootOfTheirVolume) {
    platform::DriveInfo& drives = platform::Drives();
    EXPECT_EQ(drives.RootOf("C:\\windows\\system32\\no-such-file"), "C:\\");
    EXPECT_EQ(drives.TypeOf("C:\\"), platform::DriveType::Fixed);
    EXPECT_TRUE(drives.SpaceOf("C:\\").has_value());
    int error = 0;
    EXPECT_TRUE(drives.VolumeOf("C:\\", error).has_value());
    EXPECT_FALSE(drives.VolumeOf("Q:\\", error).has_value());
    EXPECT_NE(error, 0);
    EXPECT_EQ(drives.TypeOf("Q:\\"), platform::DriveType::NoRootDirectory);
}

TEST(Win32Paths, ProgramFolderAndEntryNamesUseBackslashes) {
    const std::string folder = platform::ProgramFolder();
    EXPECT_EQ(folder.substr(1, 2), ":\\");
    EXPECT_EQ(folder.back(), '\\');
    struct Case {
        const char* name;
        const char* native;
    };
    for (const Case& c : {Case{"C:\\data\\a:b.txt", "C:\\data\\a_b.txt"}, Case{"d:x", "d:x"},
                          Case{"dir\\file:stream", "dir\\file_stream"}, Case{"1:x", "1_x"}, Case{"plain", "plain"}})
        EXPECT_EQ(platform::NativeEntryName(c.name), c.native) << c.name;
}

TEST(Win32Paths, PartsNamingDevicesGetAnUnderscoreAndDotsOnlyClimb) {
    struct Case {
        const char* name;
        const char* native;
    };
    const Case cases[] = {
        {"sub\\AUX", "sub\\_AUX"},       {"docs\\nul.txt", "docs\\_nul.txt"}, {"CON", "_CON"},
        {"con\\x.txt", "_con\\x.txt"},    {"C:\\prn", "C:\\_prn"},         {"Com1", "_Com1"},
        {"lpt9.log", "_lpt9.log"},        {"COM0", "_COM0"},               {"COM\xC2\xB9", "_COM\xC2\xB9"},
        {"LPT\xC2\xB3.x", "_LPT\xC2\xB3.x"}, {"CONIN$", "_CONIN$"},           {"conout$.txt", "_conout$.txt"},
        {"AUX.", "_AUX."},               {"nul  .txt", "_nul  .txt"},      {"CON:x", "CON_x"},
        {"COM10", "COM10"},              {"auxiliary", "auxiliary"},      {"x.con", "x.con"},
        {" AUX", " AUX"},                {"...\\x", "..\\x"},             {".. \\x", "..\\x"},
        {". .", ".."},                   {".\\x", ".\\x"},                {"a.\\x", "a.\\x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::NativeEntryName(c.name), c.native);
        // Here only the parts naming a device gain a "_".
        const bool device = c.native[0] == '_' || std::string(c.native).find("\\_") != std::string::npos;
        EXPECT_EQ(platform::NamesADevice(c.name), device);
    }
}

}  // namespace
