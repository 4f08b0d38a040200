// Links planted in the updater's folder, which lies in a folder users may
// write to while the updater may run with more rights: nothing the updater
// does there may reach through them, and the start of a run puts them out of
// the way without following them.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "install/install_file_system.h"
#include "install/install_journal.h"
#include "install/update_folder.h"
#include "install/update_folder_guard.h"
#include "install/update_log.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace fs = std::filesystem;

namespace {

using test_files::ReadAll;
using test_files::WriteFile;

#define SKIP_WITHOUT_POSIX_LINKS() SKIP_ON_WINDOWS("Wine 8 reports symbolic links as made without making them")

// Everything below a folder, links as their targets: what must not change.
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const fs::path& folder) {
    Snapshot snapshot;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), folder).generic_string();
        if (it->is_symlink())
            snapshot[relative] = "<link>" + fs::read_symlink(it->path()).string();
        else
            snapshot[relative] = it->is_directory() ? std::string("<folder>") : ReadAll(it->path());
    }
    return snapshot;
}

// A program folder, and outside it a folder and a file of someone else's
// that links in the updater's folder lead to.
class UpdateFolderLinksTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(outside_ / "victim" / "a.txt", "precious a");
        WriteFile(outside_ / "victim" / "sub" / "b.txt", "precious b");
        WriteFile(outside_ / "victim.txt", "precious file");
        WriteFile(program_ / "Quendal.exe", "program");
        before_ = Take(outside_.path());
    }

    TUpdateFolder Folder() const { return {program_.str() + platform::kPathSeparator}; }
    fs::path Root() const { return program_ / ".quendal-update"; }
    fs::path VictimFolder() const { return outside_ / "victim"; }
    fs::path VictimFile() const { return outside_ / "victim.txt"; }
    void ExpectOutsideUntouched() { EXPECT_EQ(Take(outside_.path()), before_); }

    TempFolder program_{"quendal-program"};
    TempFolder outside_{"quendal-outside"};
    Snapshot before_;
};

// Each of the updater's names planted as a link (or a second name of a file
// outside), then what a start and an update do there: secure the folder,
// clear the stage and the backup, append to the log, rewrite the release
// record and the hash cache.
TEST_F(UpdateFolderLinksTest, AtStartPlantedLinksAreRemovedOrSetAsideAndNothingOutsideChanges) {
    SKIP_WITHOUT_POSIX_LINKS();
    struct Case {
        const char* name;
        const char* planted;  // below the program folder
        bool toFolder;
        bool hardLink;
    };
    const Case cases[] = {
        {"stage to an outside folder", ".quendal-update/stage", true, false},
        {"backup to an outside folder", ".quendal-update/backup", true, false},
        {"the updater's folder to an outside folder", ".quendal-update", true, false},
        {"update.log to an outside file", ".quendal-update/update.log", false, false},
        {"state.ini to an outside file", ".quendal-update/state.ini", false, false},
        {"hashes to an outside file", ".quendal-update/hashes", false, false},
        {"journal to an outside file", ".quendal-update/journal", false, false},
        {"entries.zip to an outside folder", ".quendal-update/entries.zip", true, false},
        {"a rewrite's new file to an outside file", ".quendal-update/state.ini.new", false, false},
        {"update.log a second name of an outside file", ".quendal-update/update.log", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Root());
        fs::remove_all(program_ / ".quendal-update.set-aside-1");
        fs::create_directories(Root());
        WriteFile(Root() / "update.log", "earlier run\n");
        fs::remove_all(program_ / c.planted);
        if (c.hardLink)
            fs::create_hard_link(VictimFile(), program_ / c.planted);
        else if (c.toFolder)
            fs::create_directory_symlink(VictimFolder(), program_ / c.planted);
        else
            fs::create_symlink(VictimFile(), program_ / c.planted);
        const TUpdateFolder folder = Folder();
        TInstallFileSystem files;

        const TUpdateFolderRepair repair = SecureUpdateFolder(files, folder);
        EXPECT_TRUE(repair.safe);
        EXPECT_TRUE(files.RemoveTree(folder.Stage()));
        EXPECT_TRUE(files.RemoveTree(folder.Backup()));
        TUpdateRunRecord run;
        run.result = "installed";
        EXPECT_TRUE(TUpdateLog(files, folder.Log()).Append(run));
        EXPECT_TRUE(files.ReplaceFileWhole(folder.Root(), folder.State(), "[Release]\nversion=1.2\n"));
        EXPECT_TRUE(files.ReplaceFileWhole(folder.Root(), folder.Hashes(), "hashes\n"));

        ExpectOutsideUntouched();
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(Root())));
        for (const auto& entry : fs::directory_iterator(Root())) {
            EXPECT_FALSE(entry.is_symlink()) << entry.path();
            if (entry.is_regular_file()) {
                EXPECT_EQ(fs::hard_link_count(entry.path()), 1u) << entry.path();
            }
        }
        const std::string log = ReadAll(Root() / "update.log");
        EXPECT_NE(log.find(" result=updater folder repaired step=start entry="), std::string::npos) << log;
        EXPECT_NE(log.find(" result=installed\n"), std::string::npos) << log;
        if (std::string(c.planted) == ".quendal-update") {
            // Set aside as it was, the link itself.
            EXPECT_EQ(repair.setAsideAs, ".quendal-update.set-aside-1");
            EXPECT_EQ(fs::read_symlink(program_ / ".quendal-update.set-aside-1"), VictimFolder());
            EXPECT_NE(log.find("entry=set aside as .quendal-update.set-aside-1"), std::string::npos) << log;
        } else {
            const std::string name = fs::path(c.planted).filename().string();
            EXPECT_NE(log.find("removed " + name + (c.hardLink ? " (a file with other names)" : " (a link)")),
                      std::string::npos)
                << log;
            // Earlier lines stay, unless the log itself was what was planted.
            EXPECT_EQ(log.find("earlier run\n") == 0, name != "update.log") << log;
        }
        // A journal that was a link is not read: what stands in its place is
        // refused by the recovery as damaged.
        if (std::string(c.planted) == ".quendal-update/journal") {
            TInstallJournal journal;
            EXPECT_EQ(TInstallJournal::Parse(ReadAll(Root() / "journal"), journal),
                      TInstallJournal::ReadResult::Damaged);
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(Root() / "journal")));
        }
        if (HasFailure()) return;
    }
}

// A file of the user's where the updater's folder should be is kept, byte
// for byte, under the first free name; so is a junction or link (above).
TEST_F(UpdateFolderLinksTest, AFileInPlaceOfTheUpdatersFolderIsSetAsideUnderAFreeName) {
    WriteFile(program_ / ".quendal-update", "the user's notes");
    WriteFile(program_ / ".quendal-update.set-aside-1", "set aside before");
    TInstallFileSystem files;

    const TUpdateFolderRepair repair = SecureUpdateFolder(files, Folder());

    EXPECT_TRUE(repair.safe);
    EXPECT_EQ(repair.setAsideAs, ".quendal-update.set-aside-2");
    EXPECT_EQ(ReadAll(program_ / ".quendal-update.set-aside-1"), "set aside before");
    EXPECT_EQ(ReadAll(program_ / ".quendal-update.set-aside-2"), "the user's notes");
    ASSERT_TRUE(fs::is_directory(Root()));
    EXPECT_NE(ReadAll(Root() / "update.log").find("entry=set aside as .quendal-update.set-aside-2\n"),
              std::string::npos);
}

// A killed run can leave the fetched entries and a file of the folder-write
// check; they go at the next start, and nothing else does.
TEST_F(UpdateFolderLinksTest, AtStartWhatAStoppedRunLeftIsRemovedAndTheRestKept) {
    WriteFile(Root() / "entries.zip", "half fetched");
    WriteFile(Root() / "state.ini", "[Release]\nversion=1.1\n");
    WriteFile(program_ / ".quendal-write-check-Xy12Ab", "");
    fs::create_directories(program_ / ".quendal-write-check-folder-of-the-user");
    WriteFile(program_ / "quendal-write-check-not-ours", "kept");
    TInstallFileSystem files;

    const TUpdateFolderRepair repair = SecureUpdateFolder(files, Folder());

    EXPECT_TRUE(repair.safe);
    EXPECT_FALSE(fs::exists(Root() / "entries.zip"));
    EXPECT_FALSE(fs::exists(program_ / ".quendal-write-check-Xy12Ab"));
    EXPECT_TRUE(fs::is_directory(program_ / ".quendal-write-check-folder-of-the-user"));
    EXPECT_EQ(ReadAll(program_ / "quendal-write-check-not-ours"), "kept");
    EXPECT_EQ(ReadAll(Root() / "state.ini"), "[Release]\nversion=1.1\n");
    EXPECT_EQ(repair.Summary(),
              "removed entries.zip (left by a stopped run), .quendal-write-check-Xy12Ab (left by a stopped run)");

    // Nothing left to do: no line at all.
    const std::string log = ReadAll(Root() / "update.log");
    EXPECT_FALSE(SecureUpdateFolder(files, Folder()).Changed());
    EXPECT_EQ(ReadAll(Root() / "update.log"), log);
}

// Without the start's repair, each operation still never reaches through a
// link: it refuses, or it takes the link itself.
TEST_F(UpdateFolderLinksTest, EveryOperationRefusesOrTakesALinkItself) {
    SKIP_WITHOUT_POSIX_LINKS();
    const TUpdateFolder folder = Folder();
    const std::string root = folder.Root();
    auto linkStage = [&] {
        fs::create_directories(Root());
        fs::create_directory_symlink(VictimFolder(), Root() / "stage");
    };
    auto linkRoot = [&] { fs::create_directory_symlink(VictimFolder(), Root()); };
    auto linkFile = [&](const char* name) {
        return [this, name] {
            fs::create_directories(Root());
            fs::create_symlink(VictimFile(), Root() / name);
        };
    };
    struct Case {
        const char* name;
        std::function<void()> plant;
        std::function<bool(TInstallFileSystem&)> safe;
    };
    const Case cases[] = {
        {"read through a linked journal", linkFile("journal"),
         [&](TInstallFileSystem& files) { return !files.ReadFile(folder.Journal(), 1000); }},
        {"write through a linked state.ini", linkFile("state.ini"),
         [&](TInstallFileSystem& files) { return !files.WriteFile(folder.State(), "x"); }},
        {"append through a linked log", linkFile("update.log"),
         [&](TInstallFileSystem& files) { return !files.AppendFile(folder.Log(), "x\n"); }},
        {"flush through a linked journal", linkFile("journal"),
         [&](TInstallFileSystem& files) { return !files.FlushFile(folder.Journal()); }},
        {"digest through a linked stage", linkStage,
         [&](TInstallFileSystem& files) { return !files.Sha256(folder.Stage() + "a.txt"); }},
        {"write into a linked updater's folder", linkRoot,
         [&](TInstallFileSystem& files) { return !files.WriteFile(folder.State(), "x"); }},
        {"make the stage in a linked updater's folder", linkRoot,
         [&](TInstallFileSystem& files) { return !files.CreateFolder(folder.Stage()); }},
        {"list a linked stage", linkStage,
         [&](TInstallFileSystem& files) { return !files.ListFolder(folder.Stage()); }},
        {"a linked stage is no folder", linkStage,
         [&](TInstallFileSystem& files) {
             return !files.FolderExists(folder.Stage()) && files.KindOf(folder.Stage()) == platform::EntryKind::Link;
         }},
        {"move a program file into a linked backup",
         [&] {
             fs::create_directories(Root());
             fs::create_directory_symlink(VictimFolder(), Root() / "backup");
         },
         [&](TInstallFileSystem& files) {
             return !files.Move(folder.program + "Quendal.exe", folder.Backup() + "Quendal.exe") &&
                    ReadAll(program_ / "Quendal.exe") == "program";
         }},
        {"move a file of a linked stage into the program", linkStage,
         [&](TInstallFileSystem& files) { return !files.Move(folder.Stage() + "a.txt", folder.program + "a.txt"); }},
        {"remove a file of a linked stage", linkStage,
         [&](TInstallFileSystem& files) { return !files.RemoveFile(folder.Stage() + "a.txt"); }},
        {"remove a tree below a linked stage", linkStage,
         [&](TInstallFileSystem& files) { return !files.RemoveTree(folder.Stage() + "sub"); }},
        {"remove a linked stage", linkStage,
         [&](TInstallFileSystem& files) {
             return files.RemoveTree(folder.Stage()) && !fs::exists(fs::symlink_status(Root() / "stage"));
         }},
        {"remove a linked updater's folder", linkRoot,
         [&](TInstallFileSystem& files) {
             return files.RemoveTree(root) && !fs::exists(fs::symlink_status(Root()));
         }},
        {"remove the log's link", linkFile("update.log"),
         [&](TInstallFileSystem& files) {
             return files.RemoveFile(folder.Log()) && !fs::exists(fs::symlink_status(Root() / "update.log"));
         }},
        {"write a second name of an outside file",
         [&] {
             fs::create_directories(Root());
             fs::create_hard_link(VictimFile(), Root() / "update.log");
         },
         [&](TInstallFileSystem& files) {
             return !files.AppendFile(folder.Log(), "x\n") && !files.WriteFile(folder.Log(), "x");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Root());
        c.plant();
        TInstallFileSystem files;

        EXPECT_TRUE(c.safe(files));

        ExpectOutsideUntouched();
        EXPECT_EQ(ReadAll(program_ / "Quendal.exe"), "program");
        if (HasFailure()) return;
    }
}

// Something planted that never answers (a pipe) must not stop the run.
TEST_F(UpdateFolderLinksTest, APipeInPlaceOfTheJournalIsRefusedWithoutWaiting) {
    SKIP_ON_WINDOWS("named pipes do not live among files on Windows");
#ifndef _WIN32
    fs::create_directories(Root());
    ASSERT_EQ(::mkfifo((Root() / "journal").c_str(), 0600), 0);
    const TUpdateFolder folder = Folder();
    TInstallFileSystem files;

    EXPECT_FALSE(files.ReadFile(folder.Journal(), 1000));
    EXPECT_FALSE(files.AppendFile(folder.Journal(), "x"));
    EXPECT_TRUE(SecureUpdateFolder(files, folder).safe);
    TInstallJournal journal;
    EXPECT_EQ(TInstallJournal::Parse(ReadAll(Root() / "journal"), journal), TInstallJournal::ReadResult::Damaged);
#endif
}

// A removed tree holding links, to a folder outside and to a folder inside
// itself: each link goes as itself, nothing it names is entered.
TEST_F(UpdateFolderLinksTest, ATreeIsRemovedWithoutEnteringTheLinksInIt) {
    SKIP_WITHOUT_POSIX_LINKS();
    const fs::path stage = Root() / "stage";
    WriteFile(stage / "a.txt", "a");
    WriteFile(stage / "deep" / "er" / "c.txt", "c");
    fs::create_directory_symlink(VictimFolder(), stage / "deep" / "outside");
    fs::create_symlink(VictimFile(), stage / "deep" / "outside.txt");
    fs::create_directory_symlink("../..", stage / "deep" / "er" / "up");  // the stage itself
    fs::create_symlink("nowhere", stage / "dangling");
    TInstallFileSystem files;

    EXPECT_TRUE(files.RemoveTree(Folder().Stage()));

    EXPECT_FALSE(fs::exists(fs::symlink_status(stage)));
    EXPECT_TRUE(fs::is_directory(Root()));
    ExpectOutsideUntouched();
    EXPECT_TRUE(files.RemoveTree(Folder().Stage())) << "nothing there is removed already";
}

// Another process swaps the folders of the tree for links to the outside
// folder while the tree is removed: whichever it meets, the removal takes
// the link itself and never reaches the outside folder.
TEST_F(UpdateFolderLinksTest, AFolderSwappedForALinkDuringTheRemovalIsNotFollowed) {
    SKIP_WITHOUT_POSIX_LINKS();
    const fs::path stage = Root() / "stage";
    constexpr int kFolders = 40;
    for (int round = 0; round < 25; ++round) {
        for (int i = 0; i < kFolders; ++i)
            for (int f = 0; f < 10; ++f)
                WriteFile(stage / ("d" + std::to_string(i)) / ("f" + std::to_string(f)), "x");
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            while (!stop) {
                for (int i = 0; i < kFolders && !stop; ++i) {
                    const fs::path folder = stage / ("d" + std::to_string(i));
                    const fs::path moved = Root() / ("moved-" + std::to_string(round) + "-" + std::to_string(i));
                    std::error_code error;
                    fs::rename(folder, moved, error);
                    if (!error) fs::create_directory_symlink(VictimFolder(), folder, error);
                }
            }
        });
        TInstallFileSystem files;
        const bool removed = files.RemoveTree(Folder().Stage());
        stop = true;
        swapper.join();

        if (removed) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(stage)));
        }
        ExpectOutsideUntouched();
        fs::remove_all(Root());
        if (HasFailure()) return;
    }
}

}  // namespace
