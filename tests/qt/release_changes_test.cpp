// The signed updater against the ordinary ways in which releases change from
// one to the next (links, a file becoming a folder and back, files dropped,
// a mode changed, fixed dates) and in which a program folder gets damaged (a
// killed install whose stage was lost): each time the program folder ends
// exactly as one release, and the log says what happened.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "signed_release_harness.h"

namespace fs = std::filesystem;
using namespace program_folder;
using signed_release::TRun;

namespace {

class ReleaseChanges : public signed_release::SignedReleaseTest {
protected:
    void ExpectInstalled(const TRun& run, const std::map<std::string, FileState>& expected,
                         const std::string& fetch) {
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.programStarted);
        EXPECT_EQ(Contents(program_.path()), expected);
        EXPECT_NE(run.logLine.find("result=installed"), std::string::npos) << run.logLine;
        EXPECT_NE(run.logLine.find("fetch=" + fetch), std::string::npos) << run.logLine;
    }

    std::string Log() const { return ReadAll(UpdateFolder() / "update.log"); }
};

std::string StandIn(const std::string& version, const std::string& build) {
    return StandInProgram(version) + "# build " + build + "\n";
}

// A library link and a link to a folder, as Linux releases have them: they
// are installed as links, and the next release, which changes two other
// files, fetches just those.
TEST_F(ReleaseChanges, LinksStayLinksAndLeaveTheNextReleaseDifferential) {
    WriteFile(Source() / "Quendal.exe", StandIn("1.1", "1"), fs::perms(0755));
    WriteFile(Source() / "readme.txt", "1.0\n");
    WriteFile(Source() / "lib" / "libfoo.so.1", Noise(20000, 1));
    for (int i = 0; i < 20; ++i) WriteFile(Source() / "lib" / ("part" + std::to_string(i)), Noise(5000, i));
    fs::create_symlink("libfoo.so.1", Source() / "lib" / "libfoo.so");
    fs::create_directory_symlink("lib", Source() / "lib64");
    Publish("1.0.0");
    ExpectInstalled(Run(), Expected(), "whole");

    WriteFile(Source() / "Quendal.exe", StandIn("1.1", "2"), fs::perms(0755));
    WriteFile(Source() / "readme.txt", "1.1\n");
    Publish("1.1.0");
    const auto expected = Expected();
    const TRun run = Run();
    ExpectInstalled(run, expected, "entries (2 of ");
    EXPECT_EQ(fs::read_symlink(program_ / "lib64"), "lib");
}

// A file that becomes a folder and a folder that becomes a file, files the
// release drops (one the user edited stays), and a mode changed alone.
TEST_F(ReleaseChanges, FilesAndFoldersChangePlacesDroppedFilesGoModesApply) {
    WriteFile(Source() / "Quendal.exe", StandIn("1.1", "1"), fs::perms(0755));
    WriteFile(Source() / "docs", "docs as one file\n");
    WriteFile(Source() / "manual" / "part1.txt", "manual, part 1\n");
    WriteFile(Source() / "plugins" / "old.so", Noise(3000, 1));
    WriteFile(Source() / "plugins" / "edited.so", Noise(3000, 2));
    WriteFile(Source() / "tool.sh", "#!/bin/sh\necho tool\n", fs::perms(0644));
    for (int i = 0; i < 20; ++i) WriteFile(Source() / "data" / ("part" + std::to_string(i)), Noise(5000, i));
    Publish("1.0.0");
    ExpectInstalled(Run(), Expected(), "whole");
    WriteFile(program_ / "plugins" / "edited.so", "the user's own build\n");

    fs::remove(Source() / "docs");
    WriteFile(Source() / "docs" / "index.html", "<p>docs as a folder</p>\n");
    fs::remove_all(Source() / "manual");
    WriteFile(Source() / "manual", "manual as one file\n");
    fs::remove_all(Source() / "plugins");
    fs::permissions(Source() / "tool.sh", fs::perms(0755));
    Publish("2.0.0");
    auto expected = Expected({"plugins/edited.so"});
    expected.erase("docs");
    expected.erase("manual/part1.txt");
    expected.erase("plugins/old.so");
    expected["docs"] = Contents(Source())["docs"];
    const TRun run = Run();
    ExpectInstalled(run, expected, "entries (");
    EXPECT_EQ(fs::status(program_ / "tool.sh").permissions() & fs::perms::mask, fs::perms(0755));

    fs::remove_all(Source() / "docs");
    WriteFile(Source() / "docs", "docs as one file again\n");
    Publish("3.0.0");
    expected = Expected();
    expected.erase("docs/index.html");
    ExpectInstalled(Run(), expected, "entries (");
}

// Releases made with fixed dates (as reproducible builds make them) give two
// contents of one size the same write time. A hash cache left from an
// earlier release (a crash before it was rewritten) must not pass the file
// that now holds the other content as unchanged.
TEST_F(ReleaseChanges, AStaleHashCacheOfFixedDatesCannotPassAChangedFile) {
    const auto fixed = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    auto writeFixed = [&](const fs::path& relative, const std::string& bytes) {
        WriteFile(Source() / relative, bytes);
        fs::last_write_time(Source() / relative, fixed);
    };
    writeFixed("Quendal.exe", StandIn("1.1", "1"));
    fs::permissions(Source() / "Quendal.exe", fs::perms(0755));
    for (int i = 0; i < 20; ++i) writeFixed("data/part" + std::to_string(i), Noise(5000, i));
    writeFixed("data/table.bin", std::string(4000, 'A'));
    Publish("1.0.0");
    ExpectInstalled(Run(), Expected(), "whole");
    const std::string cacheOfTheFirst = ReadAll(UpdateFolder() / "hashes");

    writeFixed("data/table.bin", std::string(4000, 'B'));
    Publish("1.1.0");
    ExpectInstalled(Run(), Expected(), "entries (1 of ");

    WriteFile(UpdateFolder() / "hashes", cacheOfTheFirst);
    writeFixed("data/table.bin", std::string(4000, 'A'));
    Publish("1.2.0");
    const auto expected = Expected();
    ExpectInstalled(Run(), expected, "entries (1 of ");
    EXPECT_EQ(ReadAll(program_ / "data" / "table.bin"), std::string(4000, 'A'));
}

// An install killed in the middle of its swap, its stage then lost (emptied
// by a power cut before it reached the disk, or deleted by a cleaner): the
// next start puts back the old files from the backup and touches none the
// swap had not reached; then the release in place is up to date.
TEST_F(ReleaseChanges, AKilledSwapWhoseStageWasLostEndsAsTheOldRelease) {
    WriteFile(Source() / "Quendal.exe", StandIn("1.1", "1"), fs::perms(0755));
    WriteFile(Source() / "readme.txt", "1.0\n");
    WriteFile(Source() / "data" / "table.bin", Noise(5000, 1));
    Publish("1.0.0");
    ExpectInstalled(Run(), Expected(), "whole");
    const auto installed = Contents(program_.path());

    for (const bool stageDeleted : {false, true}) {
        SCOPED_TRACE(stageDeleted ? "stage deleted" : "stage emptied");
        // As the swap left it after its third rename: readme.txt backed up
        // and its new version in place, a new file in place, the program
        // and the table not reached.
        WriteFile(UpdateFolder() / "journal",
                  "quendal-update-journal 2\nR readme.txt\nF notes.txt\nR Quendal.exe\nR data/table.bin\nend\n");
        fs::create_directories(UpdateFolder() / "backup");
        fs::rename(program_ / "readme.txt", UpdateFolder() / "backup" / "readme.txt");
        WriteFile(program_ / "readme.txt", "1.1\n");
        WriteFile(program_ / "notes.txt", "new in 1.1\n");
        fs::create_directories(UpdateFolder() / "stage");
        if (stageDeleted) fs::remove_all(UpdateFolder() / "stage");

        const TRun run = Run();
        EXPECT_TRUE(run.exited);
        EXPECT_TRUE(run.programStarted);
        EXPECT_EQ(Contents(program_.path()), installed);
        EXPECT_NE(Log().find("result=rolled back after an interrupted run"), std::string::npos) << Log();
        EXPECT_NE(run.logLine.find("result=up to date"), std::string::npos) << run.logLine;
        EXPECT_FALSE(fs::exists(UpdateFolder() / "journal"));
    }

    SCOPED_TRACE("a journal that cannot be read: nothing is moved, fetched or started");
    WriteFile(UpdateFolder() / "journal", "quendal-update-journal 2\nR ../outside\nend\n");
    const TRun run = Run({}, true, 3000);
    EXPECT_FALSE(run.exited);
    EXPECT_FALSE(run.programStarted);
    EXPECT_TRUE(run.archive.empty());
    EXPECT_EQ(Contents(program_.path()), installed);
    EXPECT_NE(run.logLine.find("result=recovery refused"), std::string::npos) << run.logLine;
}

// Links planted in the updater's folder, which lies in a folder its users may
// write while the updater may run with more rights: the recovery, the
// clean-up and the log never follow them, so the folder they lead to is
// left exactly as it was, and the update goes on.
TEST_F(ReleaseChanges, LinksPlantedInTheUpdatersFolderAreNeverFollowed) {
    const TempFolder outside{"quendal-planted-outside"};
    WriteFile(outside / "victim.txt", "precious\n");
    WriteFile(outside / "sub" / "kept.txt", "kept\n");
    const auto outsideBefore = Contents(outside.path());
    WriteFile(Source() / "Quendal.exe", StandIn("1.1", "1"), fs::perms(0755));
    for (int i = 0; i < 20; ++i) WriteFile(Source() / "data" / ("part" + std::to_string(i)), Noise(5000, i));
    Publish("1.0.0");
    ExpectInstalled(Run(), Expected(), "whole");

    const struct {
        const char* name;
        const char* planted;  // below the program folder
        bool toFolder;
    } plants[] = {
        {"the stage", ".quendal-update/stage", true},
        {"the backup", ".quendal-update/backup", true},
        {"the log", ".quendal-update/update.log", false},
        {"the updater's folder itself", ".quendal-update", true},
    };
    int release = 1;
    for (const auto& plant : plants) {
        SCOPED_TRACE(plant.name);
        const fs::path planted = program_ / plant.planted;
        if (fs::is_directory(fs::symlink_status(planted))) fs::rename(planted, work_ / "moved-away");
        fs::remove(planted);
        if (plant.toFolder)
            fs::create_directory_symlink(outside.path(), planted);
        else
            fs::create_symlink(outside / "victim.txt", planted);
        WriteFile(Source() / "readme.txt", "release " + std::to_string(release) + "\n");
        Publish("1." + std::to_string(release++) + ".0");
        auto expected = Expected();
        if (std::string(plant.planted) == kUpdateFolder)
            expected[".quendal-update.set-aside-1"] = {{}, fs::perms::none, false, outside.path().string()};

        const TRun run = Run();
        EXPECT_TRUE(run.exited);
        EXPECT_TRUE(run.programStarted);
        EXPECT_EQ(Contents(program_.path()), expected);
        EXPECT_EQ(Contents(outside.path()), outsideBefore);
        EXPECT_NE(run.logLine.find("result=installed"), std::string::npos) << run.logLine;
        EXPECT_FALSE(fs::is_symlink(planted));
        fs::remove_all(work_ / "moved-away");
    }
}

// A server that accepts the connection and never answers, and one that
// answers but sends a byte every two seconds: each attempt ends on its own,
// the retries stop, and the final answer comes within about two minutes,
// with the program folder as it was and nothing started.
struct DeadServer {
    const char* name;
    const char* script;  // python3, serving the update port given as its argument
    const char* logged;
};

class DeadServers : public ReleaseChanges, public ::testing::WithParamInterface<DeadServer> {};

TEST_P(DeadServers, TheFinalAnswerComesWithinAboutTwoMinutes) {
    WriteFile(Source() / "Quendal.exe", StandIn("1.1", "1"), fs::perms(0755));
    Publish("1.0.0");
    const auto before = Contents(program_.path());

    QProcess server;
    server.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(GetParam().script),
                                             QStringLiteral(QUENDAL_TEST_UPDATE_PORT)});
    ASSERT_TRUE(server.waitForReadyRead(10000)) << "the server did not start";
    QProcess updater;
    const auto start = std::chrono::steady_clock::now();
    StartUpdater(updater);
    std::string log;
    while (log.find("result=") == std::string::npos &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(200)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (fs::is_regular_file(UpdateFolder() / "update.log")) log = ReadAll(UpdateFolder() / "update.log");
    }
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    updater.kill();
    updater.waitForFinished();
    server.kill();
    server.waitForFinished();

    EXPECT_LT(waited.count(), 150) << log;
    EXPECT_NE(log.find("result=download failed"), std::string::npos) << log;
    EXPECT_NE(log.find(GetParam().logged), std::string::npos) << log;
    EXPECT_EQ(Contents(program_.path()), before);
    EXPECT_FALSE(fs::exists(StartRecord(program_.path())));
}

INSTANTIATE_TEST_SUITE_P(
    ReleaseChanges, DeadServers,
    ::testing::Values(
        DeadServer{"Silent",
                   "import socket, sys\n"
                   "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                   "s.bind(('127.0.0.1', int(sys.argv[1]))); s.listen(16); print('ready', flush=True)\n"
                   "held = []\n"
                   "while True: held.append(s.accept()[0])\n",
                   "download=timed out"},
        DeadServer{"Dripping",
                   "import socket, sys, threading, time\n"
                   "def drip(c):\n"
                   "    c.recv(65536)\n"
                   "    c.sendall(b'HTTP/1.1 200 OK\\r\\nContent-Length: 1000000\\r\\n\\r\\n')\n"
                   "    while True: c.sendall(b'x'); time.sleep(2)\n"
                   "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                   "s.bind(('127.0.0.1', int(sys.argv[1]))); s.listen(16); print('ready', flush=True)\n"
                   "while True: threading.Thread(target=drip, args=(s.accept()[0],), daemon=True).start()\n",
                   "download=too slow"}),
    [](const ::testing::TestParamInfo<DeadServer>& info) { return std::string(info.param.name); });

}  // namespace
