#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "../app/archive_server.h"
#include "../support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Waits for `done`, giving up after a generous bound so that a broken build
// fails instead of hanging.
template <typename Condition>
bool Eventually(Condition done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        QThread::msleep(20);
    }
    return true;
}

// The real program, copied into a program folder of its own, against a local
// update server on port 280 of this machine.
TEST(UpdaterProgram, StopsTheCompanionAndDownloadsTheArchiveIntoItsFolder) {
    const std::string host = QUENDAL_UPDATE_HOST;
    if (host != "localhost" && host != "127.0.0.1") GTEST_SKIP() << "built for the update host " << host;

    const TempFolder scratch("quendal-program");
    const fs::path& folder = scratch.path();
    fs::copy_file(QUENDAL_UPDATER_BINARY, folder / "quendal-updater");
    fs::copy_file("/bin/sleep", folder / "QuendalM.exe");

    std::mt19937 random(11);
    std::string body(300 * 1024 + 17, '\0');
    for (char& c : body) c = static_cast<char>(random());
    TArchiveServer server(body, 280);
    ASSERT_TRUE(server.Listening()) << "port 280 is taken or not allowed";

    QProcess companion;
    companion.start(QString::fromStdString((folder / "QuendalM.exe").string()), {QStringLiteral("600")});
    ASSERT_TRUE(companion.waitForStarted());

    QProcess updater;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    updater.setProcessEnvironment(environment);
    updater.setWorkingDirectory(QStringLiteral("/"));
    updater.start(QString::fromStdString((folder / "quendal-updater").string()), {});
    ASSERT_TRUE(updater.waitForStarted());

    EXPECT_TRUE(companion.waitForFinished(60000)) << "QuendalM.exe is still running";
    EXPECT_EQ(companion.exitStatus(), QProcess::CrashExit);

    const fs::path archive = folder / "Quendal.zip";
    EXPECT_TRUE(Eventually([&] {
        std::error_code error;
        return fs::file_size(archive, error) == body.size() && !error;
    }));
    EXPECT_EQ(ReadAll(archive), body);
    EXPECT_EQ(server.Requests(), 1);

    updater.kill();
    updater.waitForFinished();
    companion.kill();
    companion.waitForFinished();
}

}  // namespace
