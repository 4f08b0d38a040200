// The install transaction on a real folder, with faults and kills injected
// through its file operations: whatever goes wrong, the program folder ends
// as the whole old release or the whole new one.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "faulty_file_system.h"
#include "install/update_transaction.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace fs = std::filesystem;

namespace {

using Kind = TFaultyFileSystem::Kind;
using Effect = TFaultyFileSystem::Effect;

using test_files::ReadAll;
using test_files::WriteFile;

struct Item {
    std::string bytes;
    fs::perms mode;
    bool operator==(const Item&) const = default;
};
using Tree = std::map<std::string, Item>;

// Everything below the folder but the updater's own folder; folders have no bytes.
Tree Contents(const fs::path& folder) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), folder).generic_string();
        if (relative == ".quendal-update") {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_symlink()) {
            tree[relative] = {"<link>" + fs::read_symlink(it->path()).string(), fs::perms::none};
            continue;
        }
        tree[relative] = {it->is_directory() ? std::string("<folder>") : ReadAll(it->path()),
                          it->status().permissions() & fs::perms::mask};
    }
    return tree;
}

// A small update: replaced files (one executable), a new file in an old
// folder, a new folder two levels deep holding a link, a file that becomes
// a folder and a folder that becomes a file, a file the release drops, and
// a file of the user's it leaves alone.
class UpdateTransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(folder_ / "Quendal.exe", "old program", fs::perms(0755));
        WriteFile(folder_ / "readme.txt", "old readme");
        WriteFile(folder_ / "data" / "table.bin", std::string(3000, 'o'));
        WriteFile(folder_ / "settings.ini", "[user]\nkept=1\n", fs::perms(0600));
        WriteFile(folder_ / "docs", "old docs");
        WriteFile(folder_ / "manual" / "part1.txt", "old manual");
        WriteFile(folder_ / "plugins" / "obsolete.dll", "old plug-in");
        oldTree_ = Contents(folder_.path());
    }

    std::string Program() const { return folder_.str() + platform::kPathSeparator; }
    fs::path UpdateFolder() const { return folder_ / ".quendal-update"; }

    // Extracts the update into the stage as the extractor would.
    void Stage(TUpdateTransaction& transaction) {
        ASSERT_TRUE(transaction.PrepareStage());
        const fs::path stage = UpdateFolder() / "stage";
        WriteFile(stage / "Quendal.exe", "new program", fs::perms(0750));
        WriteFile(stage / "readme.txt", "new readme", fs::perms(0600));
        WriteFile(stage / "data" / "table.bin", std::string(2000, 'n'));
        WriteFile(stage / "data" / "tool.sh", "#!/bin/sh\n", fs::perms(0755));
        WriteFile(stage / "fonts" / "ko" / "nanum.ttf", "glyphs");
        WriteFile(stage / "docs" / "index.html", "new docs");
        WriteFile(stage / "manual", "new manual");
        // A link whose target is not there: it exists all the same.
        if (!kWindowsBuild) fs::create_symlink("../../data/gone.ttf", stage / "fonts" / "ko" / "default.ttf");
    }

    Tree NewTree() const {
        Tree tree = oldTree_;
        tree["Quendal.exe"] = {"new program", kWindowsBuild ? tree["Quendal.exe"].mode : fs::perms(0750)};
        tree["readme.txt"] = {"new readme", kWindowsBuild ? tree["readme.txt"].mode : fs::perms(0600)};
        tree["data/table.bin"] = {std::string(2000, 'n'), tree["data/table.bin"].mode};
        tree["data/tool.sh"] = {"#!/bin/sh\n", kWindowsBuild ? tree["data/table.bin"].mode : fs::perms(0755)};
        const fs::perms folderMode = oldTree_.at("data").mode;
        tree["fonts"] = {"<folder>", folderMode};
        tree["fonts/ko"] = {"<folder>", folderMode};
        tree["fonts/ko/nanum.ttf"] = {"glyphs", tree["data/table.bin"].mode};
        if (!kWindowsBuild) tree["fonts/ko/default.ttf"] = {"<link>../../data/gone.ttf", fs::perms::none};
        tree["docs"] = {"<folder>", folderMode};
        tree["docs/index.html"] = {"new docs", tree["data/table.bin"].mode};
        tree.erase("manual/part1.txt");
        tree["manual"] = {"new manual", tree["data/table.bin"].mode};
        tree.erase("plugins/obsolete.dll");
        return tree;
    }

    // The installed release's files that the update drops.
    const std::set<std::string> dropped_{"manual/part1.txt", "plugins/obsolete.dll"};

    // Only the log stays in the updater's folder once a run is over (none
    // when the run was killed before it had anything to undo).
    void ExpectOnlyTheLogLeft() {
        for (const auto& entry : fs::directory_iterator(UpdateFolder()))
            EXPECT_EQ(entry.path().filename().string(), "update.log");
    }

    std::string Log() { return ReadAll(UpdateFolder() / "update.log"); }

    TempFolder folder_{"quendal-install"};
    Tree oldTree_;
};

TEST_F(UpdateTransactionTest, AWholeStageReplacesAndAddsFilesAndLeavesOthersAlone) {
    TFaultyFileSystem files;
    TUpdateTransaction transaction(files, Program());
    transaction.SetRun({.url = "localhost:280/HTTP/Quendown/Quendal.zip", .bytesReceived = 1234});
    Stage(transaction);

    EXPECT_EQ(transaction.Install({}, dropped_), TUpdateTransaction::Result::Installed);

    EXPECT_EQ(Contents(folder_.path()), NewTree());
    ExpectOnlyTheLogLeft();
    EXPECT_NE(Log().find(" url=localhost:280/HTTP/Quendown/Quendal.zip bytes=1234 result=installed\n"),
              std::string::npos)
        << Log();
    EXPECT_EQ(transaction.Recover(), TUpdateTransaction::Recovery::NothingLeft);
}

// Every rename, flush and write of the run fails in turn.
TEST_F(UpdateTransactionTest, AFailureAnywhereLeavesTheOldTreeOrAfterTheCommitTheNewOne) {
    const Tree newTree = NewTree();
    for (const Kind kind : {Kind::Move, Kind::Flush, Kind::Write}) {
        for (int at = 1;; ++at) {
            SCOPED_TRACE(testing::Message() << "operation kind " << static_cast<int>(kind) << ", number " << at);
            fs::remove_all(folder_.path());
            SetUp();
            TFaultyFileSystem files;
            TUpdateTransaction transaction(files, Program());
            Stage(transaction);
            files.kind = kind;
            files.at = at;

            const auto result = transaction.Install({}, dropped_);
            if (!files.hit) {
                EXPECT_EQ(result, TUpdateTransaction::Result::Installed);
                break;
            }
            const bool installed = result == TUpdateTransaction::Result::Installed;
            EXPECT_EQ(Contents(folder_.path()), installed ? newTree : oldTree_);
            // The log names the failure, unless writing the log was the failure.
            if (files.faultedPath != (UpdateFolder() / "update.log").string()) {
                EXPECT_NE(Log().find(" step=" + transaction.Failure().step), std::string::npos) << Log();
                EXPECT_NE(Log().find(" code=5"), std::string::npos) << Log();
                if (!installed) {
                    EXPECT_EQ(Log().find("result=installed"), std::string::npos) << Log();
                }
            }
            // A clean-up cut short after the commit is finished at the next start.
            TFaultyFileSystem sound;
            TUpdateTransaction next(sound, Program());
            next.Recover();
            EXPECT_EQ(Contents(folder_.path()), installed ? newTree : oldTree_);
            ExpectOnlyTheLogLeft();
            if (HasFailure()) return;
        }
    }
}

// A kill before any operation of the run, and again during the recovery
// that follows: the next start still ends with one whole tree.
TEST_F(UpdateTransactionTest, AKillAnywhereThenARecoveryEndsWithOneWholeTree) {
    const Tree newTree = NewTree();
    for (const Kind kind : {Kind::Move, Kind::Flush, Kind::Write, Kind::Remove}) {
        for (int at = 1;; ++at) {
            SCOPED_TRACE(testing::Message() << "kill at operation kind " << static_cast<int>(kind) << ", number " << at);
            fs::remove_all(folder_.path());
            SetUp();
            TFaultyFileSystem files;
            files.effect = Effect::Kill;
            {
                TUpdateTransaction transaction(files, Program());
                Stage(transaction);
                files.kind = kind;
                files.at = at;
                try {
                    transaction.Install({}, dropped_);
                } catch (const TFaultyFileSystem::Killed&) {
                }
            }
            if (!files.hit) break;
            // Recoveries are killed at each of their renames and removals in
            // turn, every one starting from what the one before left.
            for (const Kind recoveryKind : {Kind::Remove, Kind::Move}) {
                for (int recoveryKill = 1;; ++recoveryKill) {
                    TFaultyFileSystem recovering;
                    recovering.kind = recoveryKind;
                    recovering.effect = Effect::Kill;
                    recovering.at = recoveryKill;
                    try {
                        TUpdateTransaction(recovering, Program()).Recover();
                    } catch (const TFaultyFileSystem::Killed&) {
                    }
                    if (!recovering.hit) break;
                }
            }
            TFaultyFileSystem sound;
            TUpdateTransaction(sound, Program()).Recover();
            const Tree after = Contents(folder_.path());
            EXPECT_TRUE(after == oldTree_ || after == newTree);
            ExpectOnlyTheLogLeft();
            if (HasFailure()) return;
        }
    }
}

// The swap killed at each rename, then the stage's contents lost before the
// next start (a power cut before they reached the disk, or a cleaner): the
// old files come back from the backup, and no file the swap had not reached
// is touched.
TEST_F(UpdateTransactionTest, AKilledSwapWhoseStageWasLostRollsBackFromTheBackup) {
    const Tree newTree = NewTree();
    for (const bool stageDeleted : {false, true}) {
        for (int at = 1;; ++at) {
            SCOPED_TRACE(testing::Message() << (stageDeleted ? "stage deleted" : "stage emptied")
                                            << ", kill at rename " << at);
            fs::remove_all(folder_.path());
            SetUp();
            TFaultyFileSystem files;
            files.effect = Effect::Kill;
            {
                TUpdateTransaction transaction(files, Program());
                Stage(transaction);
                files.kind = Kind::Move;
                files.at = at;
                try {
                    transaction.Install({}, dropped_);
                } catch (const TFaultyFileSystem::Killed&) {
                }
            }
            if (!files.hit) break;
            const bool committed = ReadAll(UpdateFolder() / "journal").ends_with("committed\n");
            const fs::path stage = UpdateFolder() / "stage";
            if (stageDeleted) {
                fs::remove_all(stage);
            } else {
                for (const auto& entry : fs::directory_iterator(stage)) fs::remove_all(entry.path());
            }

            TFaultyFileSystem sound;
            EXPECT_NE(TUpdateTransaction(sound, Program()).Recover(), TUpdateTransaction::Recovery::Failed);

            EXPECT_EQ(Contents(folder_.path()), committed ? newTree : oldTree_);
            ExpectOnlyTheLogLeft();
            if (HasFailure()) return;
        }
    }
}

TEST_F(UpdateTransactionTest, AHeldFileIsWaitedForThenTheUserDecides) {
    for (const bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "Retry after the holder let go" : "Cancel");
        fs::remove_all(folder_.path());
        SetUp();
        TFaultyFileSystem files;
        TUpdateTransaction transaction(files, Program());
        Stage(transaction);
        const std::string held = Program() + "data" + platform::kPathSeparator + "table.bin";
        files.held.insert(held);
        std::vector<std::string> asked;

        const auto result = transaction.Install(
            [&](const std::string& path) {
                asked.push_back(path);
                files.held.clear();
                return retry;
            },
            dropped_);

        EXPECT_EQ(asked, std::vector<std::string>{held});
        EXPECT_EQ(files.sleeps, (std::vector<uint32_t>{50, 200, 450, 800, 1250, 1800, 2450, 3200, 4050, 5000}));
        EXPECT_EQ(result, retry ? TUpdateTransaction::Result::Installed : TUpdateTransaction::Result::Cancelled);
        EXPECT_EQ(Contents(folder_.path()), retry ? NewTree() : oldTree_);
        ExpectOnlyTheLogLeft();
        if (!retry) {
            EXPECT_NE(Log().find("result=failed step=held entry=data/table.bin code=5"), std::string::npos) << Log();
        }
    }
}

// A new file where the program has a folder holding a file of the user's
// cannot be swapped in: nothing moves.
TEST_F(UpdateTransactionTest, AStageThatCannotReplaceTheTreeChangesNothing) {
    fs::remove(folder_ / "readme.txt");
    WriteFile(folder_ / "readme.txt" / "inside" / "notes.txt", "the user's");
    oldTree_ = Contents(folder_.path());
    TFaultyFileSystem files;
    TUpdateTransaction transaction(files, Program());
    Stage(transaction);

    EXPECT_EQ(transaction.Install({}, dropped_), TUpdateTransaction::Result::RolledBack);

    EXPECT_EQ(Contents(folder_.path()), oldTree_);
    EXPECT_EQ(transaction.Failure().step, "check");
    EXPECT_EQ(transaction.Failure().entry, "readme.txt");
    ExpectOnlyTheLogLeft();
}

// The journal read at start is input: one that would lead anywhere outside
// the program folder, or into the updater's own folder, moves nothing, and
// no update starts over it.
TEST_F(UpdateTransactionTest, AHostileOrDamagedJournalMovesNothing) {
    TempFolder outside{"quendal-outside"};
    WriteFile(outside / "victim.txt", "precious");
    const std::string outsideName = fs::relative(outside.path(), folder_.path().parent_path()).generic_string();
    struct Case {
        const char* name;
        std::string journal;
    };
    const std::string head = "quendal-update-journal 1\n";
    const Case cases[] = {
        {"climbs out", head + "F ../" + outsideName + "/victim.txt\nend\n"},
        {"climbs out in a folder line", head + "D a/../../" + outsideName + "\nend\n"},
        {"absolute", head + "F " + (outside / "victim.txt").generic_string() + "\nend\n"},
        {"into the updater's folder", head + "F .QUENDAL-UPDATE/update.log\nend\n"},
        {"empty part", head + "F data//table.bin\nend\n"},
        {"unknown line", head + "X readme.txt\nend\n"},
        {"another format", "quendal-update-journal 3\nF readme.txt\nend\n"},
        {"a later kind in a first journal", head + "R readme.txt\nend\n"},
        {"lines after the commit", head + "F readme.txt\nend\ncommitted\nF Quendal.exe\n"},
        {"binary", std::string("\0\xff\n\x01", 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(UpdateFolder() / "journal", c.journal);
        WriteFile(UpdateFolder() / "backup" / "readme.txt", "backup");
        TFaultyFileSystem files;
        TUpdateTransaction transaction(files, Program());

        EXPECT_EQ(transaction.Recover(), TUpdateTransaction::Recovery::Damaged);
        EXPECT_FALSE(transaction.PrepareStage());

        EXPECT_EQ(Contents(folder_.path()), oldTree_);
        EXPECT_EQ(ReadAll(outside / "victim.txt"), "precious");
        EXPECT_EQ(ReadAll(UpdateFolder() / "backup" / "readme.txt"), "backup");
        EXPECT_NE(Log().find("result=recovery refused step=recovery entry=damaged journal"), std::string::npos);
        fs::remove_all(UpdateFolder());
    }
}

TEST_F(UpdateTransactionTest, AJournalThroughALinkedFolderMovesNothingThere) {
    if (kWindowsBuild) GTEST_SKIP() << "symbolic links are faked by Wine";
    TempFolder outside{"quendal-outside"};
    WriteFile(outside / "victim.txt", "precious");
    fs::create_directory_symlink(outside.path(), folder_ / "linked");
    oldTree_ = Contents(folder_.path());
    WriteFile(UpdateFolder() / "journal", "quendal-update-journal 1\nF linked/victim.txt\nend\n");
    fs::create_directories(UpdateFolder() / "stage");

    TFaultyFileSystem files;
    EXPECT_EQ(TUpdateTransaction(files, Program()).Recover(), TUpdateTransaction::Recovery::Failed);

    EXPECT_EQ(ReadAll(outside / "victim.txt"), "precious");
    EXPECT_EQ(Contents(folder_.path()), oldTree_);
}

TEST(UpdateLogTest, KeepsItsNewestWholeLinesWithinTheLimit) {
    TempFolder folder{"quendal-log"};
    const std::string path = (folder / "update.log").string();
    TInstallFileSystem files;
    TUpdateLog log(files, path);
    const std::string url = "localhost:280/" + std::string(1000, 'x');
    for (int run = 0; run < 500; ++run) ASSERT_TRUE(log.Append({url, run, "installed", "", "", 0}));

    const std::string text = ReadAll(path);
    EXPECT_LE(text.size(), TUpdateLog::kMaxBytes);
    EXPECT_GT(text.size(), TUpdateLog::kMaxBytes - 1100);
    EXPECT_EQ(text.substr(25, 16), " url=localhost:2");  // begins with a whole line
    EXPECT_NE(text.find(" bytes=499 result=installed\n"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}

// A log grown past its limit by something else is not read whole: the run's
// line starts it afresh.
TEST(UpdateLogTest, ALogFarOverItsLimitStartsAfresh) {
    TempFolder folder{"quendal-log"};
    const std::string path = (folder / "update.log").string();
    std::ofstream(path, std::ios::binary) << std::string(4 * TUpdateLog::kMaxBytes, 'x');
    TInstallFileSystem files;
    TUpdateLog log(files, path);
    ASSERT_TRUE(log.Append({"localhost:280/u", 7, "installed", "", "", 0}));

    const std::string text = ReadAll(path);
    EXPECT_EQ(text.substr(25), " url=localhost:280/u bytes=7 result=installed\n");
}

}  // namespace
