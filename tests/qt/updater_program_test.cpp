#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <string>

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

// The program built with a test key, against the update server serving the
// archive with its signature beside it: a good signature installs, an
// archive changed after signing leaves the program folder as it was.
TEST(SignedUpdaterProgram, InstallsOnlyAnArchiveThatVerifies) {
    for (const bool tampered : {false, true}) {
        SCOPED_TRACE(tampered ? "tampered" : "good");
        const TempFolder program("quendal-program");
        const TempFolder work("quendal-program-work");
        InstallOldProgram(program.path());
        fs::copy_file(QUENDAL_SIGNED_UPDATER_BINARY, program / "quendal-updater");
        std::string archive = MakeUpdate(work.path());
        ASSERT_FALSE(archive.empty()) << "zip failed";
        const std::string sign = "openssl dgst -sha256 -sign '" QUENDAL_TEST_PRIVATE_KEY "' -out '" +
                                 (work / "Quendal.zip.sig").string() + "' '" + (work / "Quendal.zip").string() + "'";
        ASSERT_EQ(std::system(sign.c_str()), 0);
        if (tampered) {
            archive[archive.size() / 2] ^= 0x20;
            WriteFile(work / "Quendal.zip", archive);
        }
        const auto expected = tampered ? Contents(program.path()) : Updated(Contents(program.path()), work.path());

        QProcess server;
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral(QUENDAL_UPDATE_SERVER_BINARY),
                     {Q(work / "Quendal.zip"), QStringLiteral("127.0.0.1"), QStringLiteral(QUENDAL_TEST_UPDATE_PORT)});
        ASSERT_TRUE(server.waitForReadyRead(10000)) << "the update server did not start (port " QUENDAL_TEST_UPDATE_PORT " taken?)";

        QProcess updater;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        updater.setProcessEnvironment(environment);
        updater.setWorkingDirectory(Q(work.path()));
        updater.start(Q(program / "quendal-updater"), {});
        ASSERT_TRUE(updater.waitForStarted());

        if (tampered) {
            // The refusal leaves the window open; unrefused, the small update
            // would be installed and the updater gone well within this time.
            EXPECT_FALSE(updater.waitForFinished(8000)) << "the updater exited after a refused signature";
            EXPECT_EQ(Contents(program.path()), expected);
            updater.kill();
            updater.waitForFinished();
        } else {
            ASSERT_TRUE(updater.waitForFinished(120000)) << "the updater did not exit";
            EXPECT_EQ(updater.exitCode(), 0);
            EXPECT_EQ(AwaitStartRecord(program.path()), "Quendal 1.1\n" + work.str() + "\n");
            fs::remove(StartRecord(program.path()));
            EXPECT_EQ(Contents(program.path()), expected);
        }
        server.kill();
        server.waitForFinished();
    }
}

}  // namespace
