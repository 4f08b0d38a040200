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

namespace fs = std::filesystem;
using namespace program_folder;

namespace {

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

// A release of `files` small files in folders of a hundred, some of them
// text that compresses, the rest noise that does not, and the program.
void MakeRelease(const fs::path& source, int files) {
    WriteFile(source / "Quendal.exe", StandInProgram("1.1"), fs::perms(0755));
    for (int i = 0; i < files; ++i) {
        const fs::path file = source / ("lib" + std::to_string(i / 100)) / ("part" + std::to_string(i) + ".dat");
        const size_t size = 300 + static_cast<size_t>(i * 37 % 3000);
        WriteFile(file, i % 3 == 0 ? std::string(size, static_cast<char>('a' + i % 26)) : Noise(size, i));
    }
}

// What the update server sent of the archive: one byte range per request
// ("-" for the whole file) and its body's length.
struct TSent {
    std::string range;
    uint64_t bytes = 0;
};

struct TRun {
    bool exited = false;
    std::vector<TSent> archive;   // the archive's answers
    uint64_t otherBytes = 0;      // the manifest's and its signature's
    int connections = 0;
    std::string logLine;          // the update log's last line
};

class DifferentialUpdate : public ::testing::Test {
protected:
    DifferentialUpdate() {
        fs::copy_file(QUENDAL_SIGNED_UPDATER_BINARY, program_ / "quendal-updater");
        WriteFile(program_ / "settings.ini", "[kept]\nby=user\n");
    }

    fs::path Source() const { return work_ / "source"; }
    fs::path Served() const { return work_ / "served" / "Quendal.zip"; }

    // Zips the source folder and publishes it as `version`.
    void Publish(const std::string& version) {
        fs::create_directories(Served().parent_path());
        fs::remove(Served());
        ASSERT_FALSE(ZipOf(Source(), Served()).empty()) << "zip failed";
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

    TRun Run(const QStringList& serverOptions = {}) {
        TRun run;
        QProcess server;
        server.start(QStringLiteral(QUENDAL_UPDATE_SERVER_BINARY),
                     serverOptions + QStringList{Q(Served()), QStringLiteral("127.0.0.1"),
                                                 QStringLiteral(QUENDAL_TEST_UPDATE_PORT)});
        EXPECT_TRUE(server.waitForReadyRead(10000)) << "the update server did not start";
        QProcess updater;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        updater.setProcessEnvironment(environment);
        updater.setWorkingDirectory(Q(work_.path()));
        updater.start(Q(program_ / "quendal-updater"), {});
        EXPECT_TRUE(updater.waitForStarted());
        run.exited = updater.waitForFinished(60000);
        if (run.exited) {
            EXPECT_EQ(updater.exitCode(), 0);
        }
        EXPECT_EQ(updater.readAllStandardError().toStdString(), "");
        updater.kill();
        updater.waitForFinished();
        server.kill();
        server.waitForFinished();
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
        const std::string log = ReadAll(program_ / kUpdateFolder / "update.log");
        const size_t lastLine = log.rfind('\n', log.size() - 2);
        run.logLine = log.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
        if (run.exited) {
            EXPECT_FALSE(AwaitStartRecord(program_.path()).empty()) << "the program did not start";
        }
        fs::remove(StartRecord(program_.path()));
        return run;
    }

    const TempFolder program_{"quendal-differential"};
    const TempFolder work_{"quendal-differential-work"};
};

// Every range the server sent covers a changed entry, and every changed
// entry was in a range: nothing else of the archive crossed the wire.
void ExpectRangesCover(const TRun& run, const release::ReleaseManifest& manifest,
                       const std::vector<std::string>& changed) {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const TSent& sent : run.archive) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(sent.range, match, std::regex(R"(bytes=(\d+)-(\d+))"))) << sent.range;
        ranges.emplace_back(std::stoull(match[1]), std::stoull(match[2]));
        EXPECT_EQ(sent.bytes, ranges.back().second - ranges.back().first + 1);
    }
    for (const auto& [first, last] : ranges) {
        bool coversAChange = false;
        for (const release::ManifestEntry& entry : manifest.entries)
            coversAChange |= std::find(changed.begin(), changed.end(), entry.name) != changed.end() &&
                             entry.offset <= last && entry.offset + entry.length > first;
        EXPECT_TRUE(coversAChange) << "bytes " << first << "-" << last << " hold no changed entry";
    }
    for (const std::string& name : changed) {
        const auto entry = std::find_if(manifest.entries.begin(), manifest.entries.end(),
                                        [&](const release::ManifestEntry& e) { return e.name == name; });
        ASSERT_NE(entry, manifest.entries.end()) << name;
        bool fetched = false;
        for (const auto& [first, last] : ranges)
            fetched |= first <= entry->offset && entry->offset + entry->length - 1 <= last;
        EXPECT_TRUE(fetched) << name << " was not fetched";
    }
}

uint64_t Sum(const std::vector<TSent>& sent) {
    uint64_t bytes = 0;
    for (const TSent& s : sent) bytes += s.bytes;
    return bytes;
}

// A release of a few thousand files installed, then the next one, where a
// handful changed, one was added and one grew: only those are fetched,
// by range, and the program folder ends as the new release with the user's
// file untouched. Then what the hash cache may skip and what it may not,
// and the two servers that make the updater fetch the archive whole.
TEST_F(DifferentialUpdate, FetchesOnlyTheChangedEntriesAndFallsBackToTheWholeArchive) {
    MakeRelease(Source(), 2500);
    Publish("1.0.0");
    {
        SCOPED_TRACE("the first install: nothing is in place, so the archive comes whole");
        const auto expected = Expected();
        const TRun run = Run();
        EXPECT_TRUE(run.exited);
        ASSERT_EQ(run.archive.size(), 1u);
        EXPECT_EQ(run.archive[0].range, "-");
        EXPECT_EQ(Contents(program_.path()), expected);
        EXPECT_NE(run.logLine.find("result=installed"), std::string::npos) << run.logLine;
        EXPECT_NE(run.logLine.find("fetch=whole"), std::string::npos) << run.logLine;
    }

    const std::vector<std::string> changed = {"lib0/part5.dat",     "lib3/part307.dat", "lib9/part950.dat",
                                              "lib12/part1201.dat", "lib24/part2499.dat", "lib24/new.dat",
                                              "lib17/part1700.dat"};
    for (int i = 0; i < 5; ++i) WriteFile(Source() / changed[i], Noise(700 + i, 100 + i));
    WriteFile(Source() / changed[5], "added in 2.0\n");
    WriteFile(Source() / changed[6], ReadAll(Source() / changed[6]) + Noise(20000, 7));  // grew
    Publish("2.0.0");
    {
        SCOPED_TRACE("2.0.0: the changed entries by range");
        const auto expected = Expected();
        const TRun run = Run();
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(Contents(program_.path()), expected);
        ExpectRangesCover(run, Manifest(), changed);
        EXPECT_EQ(run.connections, 2);  // the manifest's, and one for every range
        // Of the archive, a few per cent; besides, the manifest and its signature once.
        EXPECT_LT(Sum(run.archive), fs::file_size(Served()) / 20) << Sum(run.archive) << " archive bytes";
        EXPECT_EQ(run.otherBytes, fs::file_size(Served().string() + ".manifest") +
                                      fs::file_size(Served().string() + ".manifest.sig"));
        EXPECT_NE(run.logLine.find("fetch=entries (7 of 2502 entries"), std::string::npos) << run.logLine;
        EXPECT_EQ(fs::exists(program_ / kUpdateFolder / "entries.zip"), false);
    }

    // The user edits two files the next release leaves alone: one plainly,
    // one with its size and write time put back, which the hash cache cannot
    // tell from the file it hashed.
    const fs::path edited = program_ / "lib1/part100.dat";
    WriteFile(edited, ReadAll(edited) + "x");
    const fs::path disguised = program_ / "lib2/part201.dat";
    const auto stamp = fs::last_write_time(disguised);
    std::string bytes = ReadAll(disguised);
    bytes[0] ^= 1;
    WriteFile(disguised, bytes);
    fs::last_write_time(disguised, stamp);
    WriteFile(Source() / "lib4/part404.dat", Noise(999, 404));
    Publish("3.0.0");
    {
        SCOPED_TRACE("3.0.0: an edited file is fetched again; a disguised one is what the cache may skip");
        const auto expected = Expected({"lib2/part201.dat"});
        const TRun run = Run();
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(Contents(program_.path()), expected);
        ExpectRangesCover(run, Manifest(), {"lib1/part100.dat", "lib4/part404.dat"});
    }

    const struct {
        const char* serverOption;
        const char* logged;
    } wholeAfterAll[] = {
        {"--no-ranges", "fetch=whole (range answered with status 200)"},
        {"--wrong-ranges", "fetch=whole (fetched entries: "},
    };
    int release = 4;
    for (const auto& c : wholeAfterAll) {
        SCOPED_TRACE(c.serverOption);
        WriteFile(Source() / "lib5/part505.dat", Noise(1234, release));
        Publish(std::to_string(release++) + ".0.0");
        const auto expected = Expected();  // the disguised file is mended by the whole archive
        const TRun run = Run({QString::fromLatin1(c.serverOption)});
        EXPECT_TRUE(run.exited);
        EXPECT_EQ(Contents(program_.path()), expected);
        ASSERT_FALSE(run.archive.empty());
        EXPECT_EQ(run.archive.back().range, "-");
        EXPECT_EQ(run.archive.back().bytes, fs::file_size(Served()));
        EXPECT_NE(run.logLine.find(c.logged), std::string::npos) << run.logLine;
    }
}

}  // namespace
