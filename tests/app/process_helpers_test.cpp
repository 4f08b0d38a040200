#include "app/process_helpers.h"

#include "platform/file_system.h"
#include "platform/process_list.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

namespace {

template <typename Predicate>
bool WaitFor(Predicate done) {
    for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return done();
}

int CountNamed(const std::string& name) {
    int count = 0;
    for (const auto& p : platform::SnapshotProcesses()) count += p.exeName == name;
    return count;
}

void StartSleeper(const std::string& path) {
    if (!fs::exists(path)) fs::copy_file("/bin/sleep", path);
    ASSERT_EQ(std::system(("'" + path + "' 60 &").c_str()), 0);
}

class CompanionProcess : public testing::Test {
protected:
    void TearDown() override {
        KillProcessByName("QuendalM.exe");
        KillProcessByName("quendalm.exe");
    }
    const TempFolder folder_{"quendal-companion"};
    const std::string dir_ = folder_.str();
};

TEST_F(CompanionProcess, FoundWithoutRegardToAsciiCaseAndByFileNamePart) {
    StartSleeper(dir_ + "/quendalm.exe");
    ASSERT_TRUE(WaitFor([] { return CountNamed("quendalm.exe") == 1; }));
    EXPECT_TRUE(IsProcessRunning("QuendalM.exe"));
    EXPECT_TRUE(IsProcessRunning("C:/Program Files/Quendal/QUENDALM.EXE"));
    EXPECT_FALSE(IsProcessRunning("QuendalM.ex"));
}

TEST_F(CompanionProcess, OneCallKillsEveryCopy) {
    StartSleeper(dir_ + "/QuendalM.exe");
    StartSleeper(dir_ + "/QuendalM.exe");
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
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[Update]\r\nWork=False\r\n");
    fs::remove(path);
}

}  // namespace
