#include "platform/process_list.h"
#include "platform/shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace fs = std::filesystem;

namespace {

int CountNamed(const std::string& name) {
    int count = 0;
    for (const auto& p : platform::SnapshotProcesses()) count += p.exeName == name;
    return count;
}

template <typename Predicate>
bool WaitFor(Predicate done) {
    for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return done();
}

TEST(ProcessList, NamesAProcessByTheFileItWasStartedFromAndTerminatesIt) {
    SKIP_ON_WINDOWS("starts a renamed copy of /bin/sleep through a POSIX shell; on Windows Tool Help names and "
                    "terminates the stand-in QuendalM.exe (tests/app/win32)");
    const TempFolder folder;
    std::string dir = folder.str();
    fs::copy_file("/bin/sleep", dir + "/Quendal Probe.exe");
    ASSERT_EQ(std::system(("'" + dir + "/Quendal Probe.exe' 60 &").c_str()), 0);
    ASSERT_TRUE(WaitFor([] { return CountNamed("Quendal Probe.exe") == 1; }));
    for (const auto& p : platform::SnapshotProcesses()) {
        if (p.exeName == "Quendal Probe.exe") {
            EXPECT_TRUE(platform::TerminateProcess(p.id));
        }
    }
    EXPECT_TRUE(WaitFor([] { return CountNamed("Quendal Probe.exe") == 0; }));
}

TEST(ProcessList, TerminatingNoProcessFails) {
    EXPECT_FALSE(platform::TerminateProcess(0));
    EXPECT_FALSE(platform::TerminateProcess(-1));
}

TEST(Shell, OpenStartsTheProgramDetachedInItsOwnSession) {
    SKIP_ON_WINDOWS("POSIX sessions, read from /proc by a shell script; Windows has neither");
    const TempFolder folder;
    std::string dir = folder.str();
    std::string script = dir + "/Quendal.exe";
    std::ofstream(script) << "#!/bin/sh\n"
                             "set -- $(cat /proc/$$/stat)\n"
                             "echo \"$1 $6\" > '" << dir << "/started.tmp'\n"
                             "mv '" << dir << "/started.tmp' '" << dir << "/started'\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(platform::ShellOpen(script));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(dir + "/started"); }));
    int pid = 0, session = 0;
    std::ifstream(dir + "/started") >> pid >> session;
    EXPECT_EQ(pid, session);
}

TEST(Shell, OpenOfAMissingProgramFails) {
    EXPECT_FALSE(platform::ShellOpen("/nonexistent-quendal/Quendal.exe"));
}

}  // namespace
