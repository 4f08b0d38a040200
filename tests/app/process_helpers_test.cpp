#include "app/core/process_helpers.h"

#include "platform/file_system.h"
#include "platform/process_list.h"
#include "platform/shell.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"
#include "waiting_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

namespace {

int CountNamed(const std::string& name) {
    int count = 0;
    for (const auto& p : platform::SnapshotProcesses()) count += p.exeName == name;
    return count;
}

using waiting_program::WaitFor;

void StartWaitingProgram(const std::string& path) { ASSERT_TRUE(waiting_program::Start(path)); }

class CompanionProcess : public testing::Test {
protected:
    // Every copy ends before its file goes with the folder (a running
    // program's file cannot be deleted on Windows).
    void TearDown() override {
        KillProcessByName("QuendalM.exe");
        KillProcessByName("quendalm.exe");
        EXPECT_TRUE(WaitFor([] { return !IsProcessRunning("QuendalM.exe"); }));
    }
    const TempFolder folder_{"quendal-companion"};
    const std::string dir_ = folder_.str();
};

TEST_F(CompanionProcess, FoundWithoutRegardToAsciiCaseAndByFileNamePart) {
    StartWaitingProgram(dir_ + "/quendalm.exe");
    ASSERT_TRUE(WaitFor([] { return CountNamed("quendalm.exe") == 1; }));
    EXPECT_TRUE(IsProcessRunning("QuendalM.exe"));
    const std::string fullPath =
        kWindowsBuild ? "C:\\Program Files\\Quendal\\QUENDALM.EXE" : "C:/Program Files/Quendal/QUENDALM.EXE";
    EXPECT_TRUE(IsProcessRunning(fullPath));
    EXPECT_FALSE(IsProcessRunning("QuendalM.ex"));
}

TEST_F(CompanionProcess, OneCallKillsEveryCopy) {
    StartWaitingProgram(dir_ + "/QuendalM.exe");
    StartWaitingProgram(dir_ + "/QuendalM.exe");
    ASSERT_TRUE(WaitFor([] { return CountNamed("QuendalM.exe") == 2; }));
    EXPECT_TRUE(KillProcessByName("QuendalM.exe"));
    EXPECT_TRUE(WaitFor([] { return !IsProcessRunning("QuendalM.exe"); }));
    EXPECT_FALSE(KillProcessByName("QuendalM.exe")) << "nothing left to terminate";
}

struct PathCase {
    const char* fileName;
    const char* folder;
    const char* expected;
    friend void PrintTo(const PathCase& c, std::ostream* os) { *os << '"' << c.fileName << '"'; }
};

class FlagFile : public testing::TestWithParam<PathCase> {};

TEST_P(FlagFile, PathFollowsTheNamingRule) {
    EXPECT_EQ(FlagFilePath(GetParam().fileName, GetParam().folder), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FlagFile,
    testing::Values(PathCase{"Vkr", "/opt/App/", "/opt/App/Vkr.dat"},
                    PathCase{"", "/opt/App/", "/opt/App/vkr.dat"},
                    PathCase{"Vkr", "/opt/App.v2/", "/opt/App.v2/Vkr.dat"},
                    PathCase{"", "/opt/App.v2/", "/opt/App.v2/vkr.dat"},
                    PathCase{"vkr.ini", "/opt/App/", "/opt/App/vkr.ini"},
                    PathCase{"Vkr.tx", "/opt/App/", "/opt/App/Vkr.tx.dat"},
                    PathCase{"/var/tmp/flag", "/opt/App/", "/var/tmp/flag.dat"}));

TEST(WriteIniValue, WritesTheFlagIntoTheProgramFolderOnce) {
    const std::string path = platform::ProgramFolder() + "VkrTest.dat";
    fs::remove(path);
    ASSERT_TRUE(WriteIniValue("VkrTest", "Update", "Work", "False"));
    ASSERT_TRUE(WriteIniValue("VkrTest", "Update", "Work", "False"));
    std::string written;
    {
        std::ifstream in(path, std::ios::binary);  // closed before the removal, which Windows refuses otherwise
        written.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(written, "[Update]\r\nWork=False\r\n");
    fs::remove(path);
}

}  // namespace
