#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <string>

#include "../app/manifest_maker.h"
#include "../app/program_folder_files.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;
using namespace program_folder;

namespace {

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

// The real program (built for the tests' port), copied into an installed
// program folder, against the project's update server on this machine: the
// whole update.
TEST(UpdaterProgram, StopsTheCompanionReplacesTheProgramStartsItAndExits) {
    const TempFolder program("quendal-program");
    const TempFolder work("quendal-program-work");
    InstallOldProgram(program.path());
    fs::copy_file(QUENDAL_UPDATER_BINARY, program / "quendal-updater");
    fs::copy_file("/bin/sleep", program / "QuendalM.exe");
    ASSERT_FALSE(MakeUpdate(work.path()).empty()) << "zip failed";
    const auto expected = Updated(Contents(program.path()), work.path());

    // Each process is stopped when its object goes, pass or fail.
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(QUENDAL_UPDATE_SERVER_BINARY), {Q(work / "Quendal.zip"), QStringLiteral("127.0.0.1"),
                                                                 QStringLiteral(QUENDAL_TEST_UPDATE_PORT)});
    ASSERT_TRUE(server.waitForReadyRead(10000)) << "the update server did not start (port " QUENDAL_TEST_UPDATE_PORT " taken?)";

    QProcess companion;
    companion.start(Q(program / "QuendalM.exe"), {QStringLiteral("600")});
    ASSERT_TRUE(companion.waitForStarted());

    QProcess updater;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // As started from a session without a runtime folder (su, ssh).
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    updater.setProcessEnvironment(environment);
    updater.setWorkingDirectory(Q(work.path()));
    updater.start(Q(program / "quendal-updater"), {});
    ASSERT_TRUE(updater.waitForStarted());

    EXPECT_TRUE(companion.waitForFinished(30000)) << "QuendalM.exe is still running";
    EXPECT_EQ(companion.exitStatus(), QProcess::CrashExit);  // killed

    ASSERT_TRUE(updater.waitForFinished(120000)) << "the updater did not exit";
    EXPECT_EQ(updater.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(updater.exitCode(), 0);
    EXPECT_EQ(updater.readAllStandardError().toStdString(), "");  // no warning

    // Started with no arguments, in the folder the updater was started in.
    EXPECT_EQ(AwaitStartRecord(program.path()), "Quendal 1.1\n" + work.str() + "\n");
    fs::remove(StartRecord(program.path()));
    EXPECT_EQ(Contents(program.path()), expected);  // the archive is gone too
}

// The program built with two test keys, against the update server serving
// the archive with its signed manifest beside it, all in one program folder:
// a first install records its release; a later one, signed with the second
// key, installs over it; a replayed older release is refused without its
// archive fetched; the release installed fetches nothing and starts the
// program.
TEST(SignedUpdaterProgram, InstallsOnlyReleasesThatGoForward) {
    const TempFolder program("quendal-program");
    const TempFolder work("quendal-program-work");
    InstallOldProgram(program.path());
    fs::copy_file(QUENDAL_SIGNED_UPDATER_BINARY, program / "quendal-updater");
    const std::string archive1 = MakeUpdate(work.path());
    ASSERT_FALSE(archive1.empty()) << "zip failed";
    const auto updated1 = Updated(Contents(program.path()), work.path());
    WriteFile(work / "update" / "new-in-2.txt", "2.0\n");
    const std::string archive2 = ZipOf(work / "update", work / "Quendal-2.zip");
    const fs::path served = work / "served" / "Quendal.zip";

    // Serves `archive` with a manifest of `version` signed with `key`; runs
    // the updater; whether it exited (it stays open after a refusal) and
    // whether the archive was asked for.
    const auto run = [&](const std::string& archive, const std::string& version, const char* key, bool& exited,
                         bool& archiveRequested) {
        WriteFile(served, archive);
        WriteFile(fs::path(served.string() + ".manifest"), ManifestOf(archive, work.path(), version));
        const std::string sign = std::string("openssl dgst -sha256 -sign '") + key + "' -out '" + served.string() +
                                 ".manifest.sig' '" + served.string() + ".manifest'";
        ASSERT_EQ(std::system(sign.c_str()), 0);
        QProcess server;
        server.start(QStringLiteral(QUENDAL_UPDATE_SERVER_BINARY),
                     {Q(served), QStringLiteral("127.0.0.1"), QStringLiteral(QUENDAL_TEST_UPDATE_PORT)});
        ASSERT_TRUE(server.waitForReadyRead(10000)) << "the update server did not start (port " QUENDAL_TEST_UPDATE_PORT " taken?)";
        QProcess updater;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        updater.setProcessEnvironment(environment);
        updater.setWorkingDirectory(Q(work.path()));
        updater.start(Q(program / "quendal-updater"), {});
        ASSERT_TRUE(updater.waitForStarted());
        // A refusal leaves the window open; otherwise the small update is
        // installed and the updater gone well within this time.
        exited = updater.waitForFinished(15000);
        if (exited) EXPECT_EQ(updater.exitCode(), 0);
        updater.kill();
        updater.waitForFinished();
        server.kill();
        server.waitForFinished();
        archiveRequested = server.readAllStandardOutput().contains("archive requested");
    };
    const std::string state = (program / ".quendal-update" / "state.ini").string();
    bool exited = false;
    bool archiveRequested = false;
    {
        SCOPED_TRACE("1.0.0, signed with the first key");
        run(archive1, "1.0.0", QUENDAL_TEST_PRIVATE_KEY, exited, archiveRequested);
        EXPECT_TRUE(exited);
        EXPECT_EQ(AwaitStartRecord(program.path()), "Quendal 1.1\n" + work.str() + "\n");
        fs::remove(StartRecord(program.path()));
        EXPECT_EQ(Contents(program.path()), updated1);
        EXPECT_EQ(ReadAll(state), "[Release]\nVersion=1.0.0\nHighestVersion=1.0.0\n");
    }
    {
        SCOPED_TRACE("2.0.0, signed with the second key");
        run(archive2, "2.0.0", QUENDAL_TEST_SECOND_PRIVATE_KEY, exited, archiveRequested);
        EXPECT_TRUE(exited);
        EXPECT_FALSE(AwaitStartRecord(program.path()).empty());
        fs::remove(StartRecord(program.path()));
        EXPECT_EQ(ReadAll(program / "new-in-2.txt"), "2.0\n");
        EXPECT_EQ(ReadAll(state), "[Release]\nVersion=2.0.0\nHighestVersion=2.0.0\n");
    }
    const auto installed = Contents(program.path());
    {
        SCOPED_TRACE("1.0.0 replayed with a good signature");
        run(archive1, "1.0.0", QUENDAL_TEST_PRIVATE_KEY, exited, archiveRequested);
        EXPECT_FALSE(exited);
        EXPECT_FALSE(archiveRequested);
        EXPECT_EQ(Contents(program.path()), installed);
    }
    {
        SCOPED_TRACE("2.0 again: the release installed");
        run(archive2, "2.0", QUENDAL_TEST_SECOND_PRIVATE_KEY, exited, archiveRequested);
        EXPECT_TRUE(exited);
        EXPECT_FALSE(archiveRequested);
        EXPECT_EQ(AwaitStartRecord(program.path()), "Quendal 1.1\n" + work.str() + "\n");
        fs::remove(StartRecord(program.path()));
        EXPECT_EQ(Contents(program.path()), installed);
    }
}

}  // namespace
