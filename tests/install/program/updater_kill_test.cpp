// The real updater program killed at spread-out moments of an update of a
// few thousand files, then started again with no server listening: each
// time the program folder holds the whole old release or the whole new one.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/archive_server.h"
#include "app/program_folder_files.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;
using namespace program_folder;

namespace {

constexpr int kUpdatePort = QUENDAL_TEST_UPDATE_PORT;

// The updater on the offscreen platform, in the program folder; SIGKILLed
// when the object goes, pass or fail.
class TUpdaterProcess {
public:
    TUpdaterProcess(const fs::path& program, const fs::path& runtimeFolder) {
        const std::string binary = (program / "quendal-updater").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("XDG_RUNTIME_DIR", runtimeFolder.c_str(), 1);
            ::chdir(program.c_str());
            ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~TUpdaterProcess() { Kill(); }
    TUpdaterProcess(const TUpdaterProcess&) = delete;
    TUpdaterProcess& operator=(const TUpdaterProcess&) = delete;

    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    bool Running() {
        if (pid_ <= 0) return false;
        if (::waitpid(pid_, nullptr, WNOHANG) != pid_) return true;
        pid_ = 0;
        return false;
    }

private:
    pid_t pid_ = 0;
};

bool AwaitCondition(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Other runs on this machine use the update port now and then: wait for it.
std::unique_ptr<TArchiveServer> ServeOnUpdatePort(const std::string& archive) {
    for (int attempt = 0; attempt < 240; ++attempt) {
        auto server = std::make_unique<TArchiveServer>(archive, kUpdatePort);
        if (server->Listening()) return server;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return nullptr;
}

// The program as it is compared: the stand-in's start record and a leftover
// download are not part of either release.
std::map<std::string, FileState> ProgramTree(const fs::path& program) {
    auto tree = Contents(program);
    tree.erase("started.txt");
    tree.erase("started.tmp");
    tree.erase("Quendal.zip");
    return tree;
}

class UpdaterKillTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The old release: 2,000 files in 20 folders; the update replaces
        // them all and brings 1,000 more in new folders.
        InstallOldProgram(old_.path());
        for (int i = 0; i < 2000; ++i)
            WriteFile(old_ / ("lib" + std::to_string(i % 20)) / ("part" + std::to_string(i) + ".dat"),
                      "old " + std::to_string(i) + "\n");
        fs::copy_file(QUENDAL_UPDATER_BINARY, old_ / "quendal-updater");
        const fs::path source = work_ / "update";
        for (int i = 0; i < 3000; ++i)
            WriteFile(source / ("lib" + std::to_string(i % 30)) / ("part" + std::to_string(i) + ".dat"),
                      "new " + std::to_string(i) + "\n" + Noise(i % 7 * 300, i));
        archive_ = MakeUpdate(work_.path());
        oldTree_ = ProgramTree(old_.path());
        newTree_ = Updated(oldTree_, work_.path());
    }

    void InstallOld() {
        fs::remove_all(program_.path());
        fs::copy(old_.path(), program_.path(), fs::copy_options::recursive);
    }

    // Qt's runtime folder, of the test's own so that none is left behind.
    fs::path Runtime() const {
        const fs::path folder = work_ / "runtime";
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::owner_all);
        return folder;
    }

    // The next start, with nothing listening: the recovery runs first, then
    // the download fails and is logged; the window then waits for the user.
    // The start's recovery is over once the updater's work folders are gone;
    // the download it then tries finds no server and waits to retry.
    void StartWithoutServer() {
        const fs::path folder = program_ / kUpdateFolder;
        TUpdaterProcess updater(program_.path(), Runtime());
        EXPECT_TRUE(AwaitCondition(
            [&] {
                return !fs::exists(folder / "journal") && !fs::exists(folder / "backup") &&
                       !fs::exists(folder / "stage");
            },
            std::chrono::seconds(60)))
            << "the updater did not recover";
        EXPECT_TRUE(updater.Running()) << "the updater ended at start";
    }

    TempFolder old_{"quendal-old-release"};
    TempFolder work_{"quendal-update-source"};
    TempFolder program_{"quendal-program"};
    std::string archive_;
    std::map<std::string, FileState> oldTree_;
    std::map<std::string, FileState> newTree_;
};

TEST_F(UpdaterKillTest, AKillAtAnyMomentThenAStartLeavesOneWholeRelease) {
    ASSERT_FALSE(archive_.empty()) << "zip failed";
    const fs::path stage = program_ / kUpdateFolder / "stage";
    const fs::path journal = program_ / kUpdateFolder / "journal";
    const fs::path backup = program_ / kUpdateFolder / "backup";
    // Moments: some way into the extraction, once the swap's journal is
    // written, part way through the swap, and around its end.
    struct Moment {
        const char* name;
        std::function<bool()> reached;
        std::chrono::microseconds after;
    };
    const Moment moments[] = {
        {"extraction begun", [&] { return fs::exists(stage / "lib3"); }, std::chrono::microseconds(0)},
        {"extraction under way", [&] { return fs::exists(stage / "lib17"); }, std::chrono::microseconds(0)},
        {"extraction nearly done", [&] { return fs::exists(stage / "data"); }, std::chrono::microseconds(0)},
        {"journal written", [&] { return fs::exists(journal); }, std::chrono::microseconds(0)},
        {"first files backed up", [&] { return fs::exists(backup / "lib0"); }, std::chrono::microseconds(0)},
        {"swap under way", [&] { return fs::exists(backup / "lib9"); }, std::chrono::microseconds(0)},
        {"swap later", [&] { return fs::exists(backup / "lib15"); }, std::chrono::microseconds(2000)},
        {"swap end", [&] { return fs::exists(journal); }, std::chrono::microseconds(30000)},
        {"clean-up", [&] { return fs::exists(journal); }, std::chrono::microseconds(80000)},
        {"program started", [&] { return fs::exists(StartRecord(program_.path())); }, std::chrono::microseconds(0)},
    };
    int endedOld = 0;
    int endedNew = 0;
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.name);
        InstallOld();
        {
            const auto server = ServeOnUpdatePort(archive_);
            ASSERT_TRUE(server) << "port " << kUpdatePort << " stayed taken";
            TUpdaterProcess updater(program_.path(), Runtime());
            const bool reached = AwaitCondition(moment.reached, std::chrono::seconds(60));
            std::this_thread::sleep_for(moment.after);
            updater.Kill();
            EXPECT_TRUE(reached) << "the moment never came";
        }
        StartWithoutServer();

        const auto tree = ProgramTree(program_.path());
        const bool isOld = tree == oldTree_;
        const bool isNew = tree == newTree_;
        EXPECT_TRUE(isOld || isNew) << "a mix of both releases";
        endedOld += isOld;
        endedNew += isNew;
        EXPECT_FALSE(fs::exists(stage));
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_FALSE(fs::exists(backup));
        if (HasFailure()) break;
    }
    // The moments span both outcomes.
    EXPECT_GT(endedOld, 0);
    EXPECT_GT(endedNew, 0);
}

}  // namespace
