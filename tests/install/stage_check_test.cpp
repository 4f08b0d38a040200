// The stage checked against the manifest before the swap, on a real folder:
// every listed entry there in its kind with its bytes, nothing else, and only
// the digests read there remembered once the files are in place.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "install/install_file_system.h"
#include "install/installed_file_hashes.h"
#include "install/stage_check.h"
#include "install/update_folder.h"
#include "manifest_entries.h"
#include "platform/file_system.h"
#include "platform/safe_path.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace fs = std::filesystem;

namespace {

fs::path Utf8Path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

const std::string kProgram = "#!/bin/sh\necho 1.1\n";
const std::string kLibrary = "\x7f" "ELF library 1";
const std::string kTable = "table 2";
const std::string kSep(1, platform::kPathSeparator);

// What is put in the stage at a name: a file of these bytes, or a link with this text.
struct Staged {
    std::string bytes;
    bool link = false;
};

class StageCheckTest : public ::testing::Test {
protected:
    std::string Program() const { return program_.str() + platform::kPathSeparator; }
    TUpdateFolder Folder() const { return {Program()}; }

    void Stage(const std::map<std::string, Staged>& staged) const {
        for (const auto& [name, what] : staged) {
            const std::string path = Folder().Stage() + NativeRelativePath(name);
            if (what.link) {
                fs::create_directories(Utf8Path(path).parent_path());
                ASSERT_TRUE(platform::CreateSymbolicLink(what.bytes, path)) << name;
            } else {
                test_files::WriteFile(Utf8Path(path), what.bytes);
            }
        }
    }

    TempFolder program_{"quendal-stage-check"};
    TInstallFileSystem files_;
};

TEST_F(StageCheckTest, HoldsEachListedEntryInItsKindWithItsBytesAndNothingElse) {
    const std::vector<release::ManifestEntry> files = {EntryOf("Quendal.exe", kProgram, kUnixProgram),
                                                       EntryOf("lib/libfoo.so.1", kLibrary, kUnixFile),
                                                       EntryOf("data/table.bin", kTable, 0, 0x20)};
    std::vector<release::ManifestEntry> withLink = files;
    withLink.push_back(EntryOf("lib/libfoo.so", "libfoo.so.1", kUnixLink));
    // A folder beside the stage holding what the stage should.
    const std::string outside = Program() + "outside";
    test_files::WriteFile(Utf8Path(outside + kSep + "libfoo.so.1"), kLibrary);
    const std::map<std::string, Staged> asListed = {
        {"Quendal.exe", {kProgram}}, {"lib/libfoo.so.1", {kLibrary}}, {"data/table.bin", {kTable}}};
    const auto with = [&](std::map<std::string, Staged> staged, const std::map<std::string, Staged>& changes) {
        for (const auto& [name, what] : changes) staged[name] = what;
        return staged;
    };
    const auto without = [&](std::map<std::string, Staged> staged, const std::string& name) {
        staged.erase(name);
        return staged;
    };
    struct Case {
        const char* what;
        std::vector<release::ManifestEntry> entries;
        std::map<std::string, Staged> staged;
        std::string failedStep;
        std::string failedEntry;
        bool posixOnly = false;
    };
    const Case cases[] = {
        {"as listed", files, asListed, "", ""},
        {"an entry of other bytes", files, with(asListed, {{"data/table.bin", {"table 3"}}}), "sha256",
         "data/table.bin"},
        {"an entry missing", files, without(asListed, "lib/libfoo.so.1"), "sha256", "lib/libfoo.so.1"},
        {"a file the manifest does not list", files, with(asListed, {{"lib/extra.dll", {"x"}}}), "refused",
         "lib" + kSep + "extra.dll"},
        {"a name no plain path", [&] {
             auto entries = files;
             entries.push_back(EntryOf("../outside.txt", "x", kUnixFile));
             return entries;
         }(),
         asListed, "refused", "../outside.txt"},
        {"as listed, with a link", withLink, with(asListed, {{"lib/libfoo.so", {"libfoo.so.1", true}}}), "", "", true},
        {"a link with another target text", withLink, with(asListed, {{"lib/libfoo.so", {"libfoo.so.2", true}}}),
         "sha256", "lib/libfoo.so", true},
        {"a link staged as a file of its text", withLink, with(asListed, {{"lib/libfoo.so", {"libfoo.so.1"}}}),
         "sha256", "lib/libfoo.so", true},
        {"a file staged as a link to a file of its bytes", files,
         with(asListed, {{"lib/libfoo.so.1", {"real.so", true}}, {"lib/real.so", {kLibrary}}}), "sha256",
         "lib/libfoo.so.1", true},
        {"a link the manifest does not list", files, with(asListed, {{"lib/libfoo.so", {"libfoo.so.1", true}}}),
         "refused", "lib" + kSep + "libfoo.so", true},
        // The folder link listed too, so that only the way through it is wrong.
        {"an entry reached through a linked folder", [&] {
             auto entries = files;
             entries.push_back(EntryOf("lib", outside, kUnixLink));
             return entries;
         }(),
         with(without(asListed, "lib/libfoo.so.1"), {{"lib", {outside, true}}}), "sha256", "lib/libfoo.so.1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Wine fakes the making of links.
        if (c.posixOnly && kWindowsBuild) continue;
        fs::remove_all(Utf8Path(Folder().Root()));
        Stage(c.staged);
        TStageCheck check(files_);
        TInstallFailure failure;
        EXPECT_EQ(check.Holds(Folder().Stage(), c.entries, failure), c.failedStep.empty());
        EXPECT_EQ(failure.step, c.failedStep);
        EXPECT_EQ(failure.entry, c.failedEntry);
    }
}

TEST_F(StageCheckTest, OnlyWhatItReadIsRememberedOnceInPlace) {
    const std::vector<release::ManifestEntry> entries = {EntryOf("Quendal.exe", kProgram, kUnixProgram),
                                                         EntryOf("data/table.bin", kTable, 0, 0x20)};
    Stage({{"Quendal.exe", {kProgram}}, {"data/table.bin", {kTable}}});
    fs::permissions(Utf8Path(Folder().Stage() + "Quendal.exe"), fs::perms(0755));
    // The extractor dates files as their entries: long settled.
    for (const std::string& name : {std::string("Quendal.exe"), "data" + kSep + "table.bin"})
        ASSERT_TRUE(platform::SetPathWriteTimeUtc(Folder().Stage() + name, {1'700'000'000, 0}));
    TStageCheck check(files_);
    TInstallFailure failure;
    ASSERT_TRUE(check.Holds(Folder().Stage(), entries, failure)) << failure.step << " " << failure.entry;
    // A check that refused the stage, after reading the same files.
    TStageCheck refused(files_);
    std::vector<release::ManifestEntry> moreEntries = entries;
    moreEntries.push_back(EntryOf("missing.txt", "x", kUnixFile));
    ASSERT_FALSE(refused.Holds(Folder().Stage(), moreEntries, failure));
    // The swap moves them into place; then one is replaced by other bytes of its size and date.
    fs::rename(Utf8Path(Folder().Stage() + "Quendal.exe"), Utf8Path(Program() + "Quendal.exe"));
    fs::create_directories(Utf8Path(Program() + "data"));
    fs::rename(Utf8Path(Folder().Stage() + "data" + kSep + "table.bin"),
               Utf8Path(Program() + "data" + kSep + "table.bin"));
    test_files::WriteFile(Utf8Path(Program() + "table.new"), "table 3");
    ASSERT_TRUE(platform::SetPathWriteTimeUtc(Program() + "table.new", {1'700'000'000, 0}));
    fs::rename(Utf8Path(Program() + "table.new"), Utf8Path(Program() + "data" + kSep + "table.bin"));
    {
        TInstalledFileHashes hashes(files_, Folder());
        refused.RememberInstalled(hashes);
        ASSERT_TRUE(hashes.Save());
    }
    EXPECT_EQ(test_files::ReadAll(Utf8Path(Folder().Hashes())), "quendal installed-file hashes 2\n");
    {
        TInstalledFileHashes hashes(files_, Folder());
        check.RememberInstalled(hashes);
        ASSERT_TRUE(hashes.Save());
    }
    const std::string cache = test_files::ReadAll(Utf8Path(Folder().Hashes()));
    EXPECT_NE(cache.find(" Quendal.exe\n"), std::string::npos) << cache;
    EXPECT_EQ(cache.find("table.bin"), std::string::npos) << cache;
    TInstalledFileHashes hashes(files_, Folder());
    EXPECT_TRUE(hashes.Matches(entries[0]));
    EXPECT_FALSE(hashes.Matches(entries[1]));
}

}  // namespace
