#pragma once

// The signed updater program run for real in a program folder of its own,
// against the update server serving a release that quendal-publish signed:
// what a publisher and a user do, end to end.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../app/program_folder_files.h"
#include "release/manifest_json.h"
#include "support/temp_folder.h"

namespace signed_release {

namespace fs = std::filesystem;
using namespace program_folder;

inline QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

// What the update server sent of the archive: one byte range per request
// ("-" for the whole file) and its body's length.
struct TSent {
    std::string range;
    uint64_t bytes = 0;
};

struct TRun {
    bool exited = false;
    int exitCode = -1;
    std::vector<TSent> archive;   // the archive's answers
    uint64_t otherBytes = 0;      // the manifest's and its signature's
    int connections = 0;
    std::string logLine;          // the update log's last line
    bool programStarted = false;
};

class SignedReleaseTest : public ::testing::Test {
protected:
    SignedReleaseTest() {
        fs::copy_file(QUENDAL_SIGNED_UPDATER_BINARY, program_ / "quendal-updater");
        WriteFile(program_ / "settings.ini", "[kept]\nby=user\n");
    }

    fs::path Source() const { return work_ / "source"; }
    fs::path Served() const { return work_ / "served" / "Quendal.zip"; }
    fs::path UpdateFolder() const { return program_ / kUpdateFolder; }

    // Zips the source folder (links as links) and publishes it as `version`.
    void Publish(const std::string& version) {
        fs::create_directories(Served().parent_path());
        fs::remove(Served());
        const std::string zip = "cd '" + Source().string() + "' && zip -q -r -y '" + Served().string() + "' .";
        ASSERT_EQ(std::system(zip.c_str()), 0) << "zip failed";
        const std::string publish = std::string("'") + QUENDAL_PUBLISH_PROGRAM + "' --key '" +
                                    QUENDAL_TEST_PRIVATE_KEY + "' --version " + version + " '" + Served().string() +
                                    "' > /dev/null";
        ASSERT_EQ(std::system(publish.c_str()), 0);
    }

    release::ReleaseManifest Manifest() const {
        return *release::ReadManifest(ReadAll(fs::path(Served().string() + ".manifest"))).manifest;
    }

    // The program folder once the source folder's release is in, with `kept`
    // as it is now.
    std::map<std::string, FileState> Expected(const std::vector<std::string>& kept = {}) const {
        std::map<std::string, FileState> expected = Contents(program_.path());
        std::map<std::string, FileState> was = expected;
        for (const auto& [path, state] : Contents(Source())) expected[path] = state;
        for (const std::string& path : kept) expected[path] = was[path];
        return expected;
    }

    // The updater of the program folder on the offscreen platform, started
    // from the work folder.
    void StartUpdater(QProcess& updater) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        updater.setProcessEnvironment(environment);
        updater.setWorkingDirectory(Q(work_.path()));
        updater.start(Q(program_ / "quendal-updater"), {});
        EXPECT_TRUE(updater.waitForStarted());
    }

    // Runs the updater against the update server (none with `serve` false)
    // until it ends, or for `limit` at most; the updater is then ended.
    TRun Run(const QStringList& serverOptions = {}, bool serve = true, int limitMs = 60000) {
        TRun run;
        QProcess server;
        if (serve) {
            server.start(QStringLiteral(QUENDAL_UPDATE_SERVER_BINARY),
                         serverOptions + QStringList{Q(Served()), QStringLiteral("127.0.0.1"),
                                                     QStringLiteral(QUENDAL_TEST_UPDATE_PORT)});
            EXPECT_TRUE(server.waitForReadyRead(10000)) << "the update server did not start";
        }
        QProcess updater;
        StartUpdater(updater);
        run.exited = updater.waitForFinished(limitMs);
        if (run.exited) run.exitCode = updater.exitCode();
        EXPECT_EQ(updater.readAllStandardError().toStdString(), "");
        updater.kill();
        updater.waitForFinished();
        if (serve) {
            server.kill();
            server.waitForFinished();
        }
        std::istringstream lines(server.readAllStandardOutput().toStdString());
        const std::regex sent(R"(sent (\S+) (\S+) (\d+))");
        for (std::string line; std::getline(lines, line);) {
            run.connections += line == "connection";
            std::smatch match;
            if (!std::regex_match(line, match, sent)) continue;
            if (match[1] == "/HTTP/Quendown/Quendal.zip")
                run.archive.push_back({match[2], std::stoull(match[3])});
            else
                run.otherBytes += std::stoull(match[3]);
        }
        const std::string log = fs::is_regular_file(UpdateFolder() / "update.log")
                                    ? ReadAll(UpdateFolder() / "update.log")
                                    : std::string();
        const size_t lastLine = log.size() < 2 ? std::string::npos : log.rfind('\n', log.size() - 2);
        run.logLine = log.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
        // A stand-in started just before the updater ended may still be writing its record.
        run.programStarted = run.exited ? !AwaitStartRecord(program_.path()).empty()
                                        : fs::exists(StartRecord(program_.path()));
        fs::remove(StartRecord(program_.path()));
        return run;
    }

    const TempFolder program_{"quendal-signed-program"};
    const TempFolder work_{"quendal-signed-work"};
};

}  // namespace signed_release
