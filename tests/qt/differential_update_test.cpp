#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "signed_release_harness.h"

namespace fs = std::filesystem;
using namespace program_folder;
using signed_release::TRun;
using signed_release::TSent;

namespace {

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

class DifferentialUpdate : public signed_release::SignedReleaseTest {};

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
// file untouched. Then edited files, one disguised by its write time put back,
// and the two servers that make the updater fetch the archive whole.
TEST_F(DifferentialUpdate, FetchesOnlyTheChangedEntriesAndFallsBackToTheWholeArchive) {
    MakeRelease(Source(), 2500);
    Publish("1.0.0");
    {
        SCOPED_TRACE("the first install: nothing is in place, so the archive comes whole");
        const auto expected = Expected();
        const TRun run = Run();
        EXPECT_TRUE(run.exited);
        EXPECT_TRUE(run.programStarted);
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
        EXPECT_TRUE(run.programStarted);
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
    // one with its size and write time put back, which a cache keyed by them
    // alone could not tell from the file it hashed; its change time tells.
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
        SCOPED_TRACE("3.0.0: an edited file is fetched again, and so is a disguised one");
        const auto expected = Expected();
        const TRun run = Run();
        EXPECT_TRUE(run.exited);
        EXPECT_TRUE(run.programStarted);
        EXPECT_EQ(Contents(program_.path()), expected);
        ExpectRangesCover(run, Manifest(), {"lib1/part100.dat", "lib2/part201.dat", "lib4/part404.dat"});
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
        const auto expected = Expected();
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
