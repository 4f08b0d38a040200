// The extraction run as its events show it: order, counts, results and the
// files left behind, on archives built byte by byte.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "extract_test_support.h"
#include "frame_test_support.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

using namespace extract_test;
using frame_test::ReadFile;
using frame_test::SampleText;
using frame_test::WriteFile;
namespace fs = std::filesystem;

namespace {

class ExtractRun : public ExtractFixture {
protected:
    std::vector<std::string> Lines(std::initializer_list<std::string> middle) {
        std::vector<std::string> lines{"Activate"};
        lines.insert(lines.end(), middle);
        lines.push_back("Deactivate");
        return lines;
    }
};

TEST_F(ExtractRun, EmptyArchiveFileReportsNotFoundAndNothingElse) {
    EXPECT_EQ(unzip_.ExtractFiles(), 0);
    EXPECT_EQ(log_.lines, std::vector<std::string>{"Error 25192 "});
}

TEST_F(ExtractRun, EmptyFileSpecActivatesAndDeactivatesOnly) {
    WriteFile(dir_ + "a.zip", BuildZip({{"a.txt", "abc"}}));
    unzip_.SetArchiveFile(dir_ + "a.zip");
    unzip_.SetExtractDir(target_);
    EXPECT_EQ(unzip_.ExtractFiles(), 0);
    EXPECT_EQ(log_.lines, Lines({}));
    EXPECT_FALSE(fs::exists(target_));
}

TEST_F(ExtractRun, StoredAndDeflatedEntriesAreWrittenWithTheirDate) {
    const std::string text = SampleText(5000);
    EXPECT_EQ(Run({{"a.txt", text}, {"sub/b.txt", text, 8}, {"e.txt", ""}}), 3);
    EXPECT_EQ(log_.lines, Lines({"Begin a.txt 1", "Progress 100 50", "End a.txt pass", "Begin sub/b.txt 2",
                                 "Progress 100 100", "End sub/b.txt pass", "Begin e.txt 3", "End e.txt pass"}));
    EXPECT_EQ(ReadFile(target_ + "a.txt"), text);
    EXPECT_EQ(ReadFile(target_ + "sub/b.txt"), text);
    ASSERT_TRUE(fs::exists(target_ + "e.txt"));
    EXPECT_EQ(fs::file_size(target_ + "e.txt"), 0u);

    struct stat st {};
    ASSERT_EQ(stat((target_ + "e.txt").c_str(), &st), 0);
    const std::tm local = *std::localtime(&st.st_mtime);
    EXPECT_EQ(local.tm_year + 1900, 2021);
    EXPECT_EQ(local.tm_mon + 1, 6);
    EXPECT_EQ(local.tm_mday, 15);
    EXPECT_EQ(local.tm_hour, 10);
    EXPECT_EQ(local.tm_min, 20);
    EXPECT_EQ(local.tm_sec, 30);
}

TEST_F(ExtractRun, SkipModeWithoutConfirmationSkipsEveryEntry) {
    unzip_.SetOverwriteMode(omSkip);
    EXPECT_EQ(Run({{"a.txt", "0123456789"}, {"e.txt", ""}}), 0);
    EXPECT_EQ(log_.lines, Lines({"Begin a.txt 1", "Progress 100 100", "Begin e.txt 1", "Progress 0 100"}));
    EXPECT_FALSE(fs::exists(target_ + "a.txt"));
}

TEST_F(ExtractRun, ReadOnlyTargetIsNotReplacedAndNotCounted) {
    fs::create_directories(target_);
    WriteFile(target_ + "a.txt", "old");
    fs::permissions(target_ + "a.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(Run({{"a.txt", "new data"}, {"b.txt", "bb"}}), 1);
    EXPECT_EQ(log_.lines, Lines({"Begin a.txt 1", "Error 25235 a.txt", "Progress 100 80", "End a.txt fail",
                                 "Begin b.txt 1", "Progress 100 100", "End b.txt pass"}));
    EXPECT_EQ(ReadFile(target_ + "a.txt"), "old");
}

TEST_F(ExtractRun, RefusedInOnBeginStillAdvancesTheArchiveProgress) {
    log_.refuse = "a.txt";
    EXPECT_EQ(Run({{"a.txt", std::string(100, 'a')}, {"b.txt", std::string(300, 'b')}}), 1);
    EXPECT_EQ(log_.lines, Lines({"Begin a.txt 1", "Progress 100 25", "Begin b.txt 1", "Progress 100 100",
                                 "End b.txt pass"}));
    EXPECT_FALSE(fs::exists(target_ + "a.txt"));
}

TEST_F(ExtractRun, DirectoryEntryPassesWithoutBeginAndIsCreatedOnlyWhenAsked) {
    for (const bool create : {false, true}) {
        SCOPED_TRACE(create);
        fs::remove_all(target_);
        log_.lines.clear();
        unzip_.SetCreateStoredDirs(create);
        EXPECT_EQ(Run({{"d/", "", 0, 0x10}}), 0);
        EXPECT_EQ(log_.lines, Lines({"End d/ pass"}));
        EXPECT_EQ(fs::is_directory(target_ + "d"), create);
    }
}

// The method is looked at before the output is created: an existing file of
// that name stays as it was.
TEST_F(ExtractRun, UnsupportedMethodsAreSkippedBeforeAnyFileIsMade) {
    fs::create_directories(target_);
    WriteFile(target_ + "m12.bin", "kept");
    EXPECT_EQ(Run({{"m7.bin", "xyz", 7}, {"m12.bin", "xyz", 12}, {"ok.txt", "ok"}}), 1);
    EXPECT_EQ(log_.lines, Lines({"Error 25326 m7.bin", "Progress 100 38", "End m7.bin fail", "Error 25326 m12.bin",
                                 "Progress 100 75", "End m12.bin fail", "Begin ok.txt 1", "Progress 100 100",
                                 "End ok.txt pass"}));
    EXPECT_FALSE(fs::exists(target_ + "m7.bin"));
    EXPECT_EQ(ReadFile(target_ + "m12.bin"), "kept");
}

TEST_F(ExtractRun, DriveAndRootPrefixesAreDropped) {
    struct Case {
        std::string stored;
        bool useStoredDirs;
        std::string written;
    };
    for (const Case& c : {Case{"C:\\data\\a.txt", true, "data/a.txt"}, Case{"C:\\data\\a.txt", false, "a.txt"},
                          Case{"\\a.txt", true, "a.txt"}, Case{"/abs/b.txt", true, "abs/b.txt"}}) {
        SCOPED_TRACE(c.stored);
        fs::remove_all(target_);
        unzip_.SetUseStoredDirs(c.useStoredDirs);
        EXPECT_EQ(Run({{c.stored, "payload"}}), 1);
        EXPECT_EQ(ReadFile(target_ + c.written), "payload");
    }
}

// The entry cut short by the cancel leaves no part of itself behind.
TEST_F(ExtractRun, CancelFromProgressStopsAfterTheCurrentChunk) {
    const std::string data = SampleText(100000);
    log_.cancelAtProgress = 1;
    Run({{"big.bin", data}, {"next.bin", "n"}});
    const std::vector<std::string> expected = Lines({"Begin big.bin 1", "Progress 33 33",
                                                     "Error 25443 " + frame_test::SlashPath(dir_) + "a.zip big.bin", "End big.bin fail"});
    EXPECT_EQ(log_.lines, expected);
    EXPECT_FALSE(fs::exists(target_ + "big.bin"));
    EXPECT_FALSE(fs::exists(target_ + "next.bin"));
}

TEST_F(ExtractRun, CancelFromOnBeginSkipsTheEntryAndEndsTheRun) {
    unzip_.OnBegin = [&](TObject*, const std::string& f, int32_t, bool&) {
        log_.lines.push_back("Begin " + log_.Short(f));
        unzip_.SetCancel(true);
    };
    std::vector<float> elapsed;
    unzip_.OnElapsedTime = [&](TObject*, float seconds) {
        elapsed.push_back(seconds);
        log_.lines.push_back("ElapsedTime");
    };
    EXPECT_EQ(Run({{"a.txt", "aaaa"}, {"b.txt", "bbbb"}}), 0);
    EXPECT_EQ(log_.lines, Lines({"Begin a.txt", "Error 25443 " + frame_test::SlashPath(dir_) + "a.zip a.txt", "Progress 100 50",
                                 "ElapsedTime"}));
    EXPECT_EQ(elapsed.size(), 1u);
    EXPECT_FALSE(fs::exists(target_ + "a.txt"));
}

TEST_F(ExtractRun, FullDiskEndsTheEntryOnceAndTheRunGoesOn) {
    if (!frame_test::FullDeviceOpens()) GTEST_SKIP() << "no device that is always full here";
    // The first entry is renamed onto a device that is always full.
    unzip_.OnRenameFile = [&](TObject*, const std::string& f, std::string& newName) {
        if (log_.Short(f) == "full.bin") newName = "/dev/full";
    };
    const std::string data = SampleText(100000);
    EXPECT_EQ(Run({{"full.bin", data, 8}, {"next.txt", "next"}}), 1);
    EXPECT_EQ(std::count(log_.lines.begin(), log_.lines.end(), "Error 25160 " + frame_test::SlashPath(dir_) + "a.zip /dev/full"), 1);
    EXPECT_EQ(log_.lines[log_.lines.size() - 5], "End /dev/full fail");
    EXPECT_EQ(ReadFile(target_ + "next.txt"), "next");
}

TEST_F(ExtractRun, AttributesOtherThanPlainArchiveAreApplied) {
    using fs::perms;
    const uint32_t unixRw = (0100640u << 16) | 0x20;
    EXPECT_EQ(Run({{"plain", "p", 0, 0x20}, {"readonly", "r", 0, 0x21}, {"unix", "u", 0, unixRw}}), 3);
    const auto mode = [&](const std::string& name) { return fs::status(target_ + name).permissions() & perms::all; };
    EXPECT_NE(mode("plain") & perms::owner_write, perms::none);
    EXPECT_EQ(mode("readonly") & (perms::owner_write | perms::group_write | perms::others_write), perms::none);
    if (kWindowsBuild)  // no file modes there: a mode with owner write leaves the file writable
        EXPECT_NE(mode("unix") & perms::owner_write, perms::none);
    else
        EXPECT_EQ(mode("unix"), perms::owner_read | perms::owner_write | perms::group_read);

    fs::permissions(target_ + "readonly", perms::owner_write, fs::perm_options::add);  // Windows deletes no read-only file
    fs::remove_all(target_);
    unzip_.SetRestoreFileAttr(false);
    Run({{"readonly", "r", 0, 0x21}});
    EXPECT_NE(mode("readonly") & perms::owner_write, perms::none);
}

TEST_F(ExtractRun, ConfirmedOverwriteNeedsItsHandler) {
    fs::create_directories(target_);
    WriteFile(target_ + "a.txt", "old");
    unzip_.SetConfirmOverwrites(true);
    EXPECT_EQ(Run({{"a.txt", "new"}}), 0);
    EXPECT_EQ(log_.lines, Lines({"Begin a.txt 1", "Error 25270 a.txt OnFileExists", "Progress 100 100"}));
    EXPECT_EQ(ReadFile(target_ + "a.txt"), "old");
}

TEST_F(ExtractRun, FileExistsHandlerRenamesOrSkips) {
    fs::create_directories(target_);
    WriteFile(target_ + "a.txt", "old");
    WriteFile(target_ + "b.txt", "old b");
    unzip_.SetConfirmOverwrites(true);
    std::vector<std::string> asked;
    unzip_.OnFileExists = [&](TObject*, const std::string& f, std::string& newName, TOverwriteMode& mode) {
        asked.push_back(log_.Short(f));
        if (log_.Short(f) == "a.txt") newName = target_ + "renamed/a2.txt";
        else mode = omSkip;
    };
    EXPECT_EQ(Run({{"a.txt", "new a"}, {"b.txt", "new b"}}), 1);
    EXPECT_EQ(asked, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(log_.lines, Lines({"Begin a.txt 1", "Progress 100 50", "End renamed/a2.txt pass", "Begin b.txt 2",
                                 "Progress 100 100"}));
    EXPECT_EQ(ReadFile(target_ + "a.txt"), "old");
    EXPECT_EQ(ReadFile(target_ + "renamed/a2.txt"), "new a");
    EXPECT_EQ(ReadFile(target_ + "b.txt"), "old b");
}

TEST_F(ExtractRun, DeflateEntryOfHundredThousandBytesReportsFourSteps) {
    const std::string data = SampleText(100000);
    EXPECT_EQ(Run({{"d.bin", data, 8}}), 1);
    EXPECT_EQ(log_.lines, Lines({"Begin d.bin 1", "Progress 33 33", "Progress 66 66", "Progress 98 98",
                                 "Progress 100 100", "End d.bin pass"}));
    EXPECT_EQ(ReadFile(target_ + "d.bin"), data);
}

TEST_F(ExtractRun, TruncatedDeflateEntryFailsItsCrcAndTheRunGoesOn) {
    const std::string data = SampleText(60000);
    const std::string deflated = RawDeflate(data);
    unzip_.OnEnd = nullptr;
    Entry cut("cut.bin", data, 8);
    cut.packedData = deflated.substr(0, deflated.size() / 2);
    EXPECT_EQ(Run({cut, {"next.txt", "still here"}}), 2);
    ASSERT_GE(log_.lines.size(), 4u);
    EXPECT_EQ(log_.lines[1], "Begin cut.bin 1");
    EXPECT_NE(std::find(log_.lines.begin(), log_.lines.end(), "Error 25151 cut.bin"), log_.lines.end());
    EXPECT_FALSE(fs::exists(target_ + "cut.bin"));
    EXPECT_EQ(ReadFile(target_ + "next.txt"), "still here");
    EXPECT_EQ(log_.lines.back(), "Deactivate");
}

// A stored entry of a size other than declared is refused before it is
// written. The failed entry's file is gone at its end, so its size is taken
// while it is written.
TEST_F(ExtractRun, OutputNeverExceedsTheDeclaredSize) {
    const std::string zeros(1 << 20, '\0');
    for (const uint16_t method : {uint16_t{0}, uint16_t{8}}) {
        SCOPED_TRACE(method);
        fs::remove_all(target_);
        log_.lines.clear();
        uintmax_t largest = 0;
        unzip_.OnProgress = [&](TObject*, uint8_t, uint8_t) {
            std::error_code error;
            largest = std::max(largest, fs::exists(target_ + "bomb.bin", error) ? fs::file_size(target_ + "bomb.bin") : 0);
        };
        Entry bomb("bomb.bin", zeros, method);
        bomb.declaredSize = 1000u;
        Run({bomb});
        EXPECT_EQ(largest, method == 0 ? 0u : 1000u);
        EXPECT_EQ(log_.lines[log_.lines.size() - 2], "End bomb.bin fail");
        EXPECT_FALSE(fs::exists(target_ + "bomb.bin"));
    }
}

TEST_F(ExtractRun, NamesClimbingOutOfTheTargetAreRefused) {
    fs::create_directories(dir_ + "outside");
    EXPECT_EQ(Run({{"../evil.txt", "x"}, {"a/../../evil2.txt", "x"}, {"..", "x"}, {"ok/..name", "fine"}}), 1);
    EXPECT_EQ(log_.lines,
              Lines({"Error 25245 ../evil.txt ../evil.txt", "Progress 100 14", "End ../evil.txt fail",
                     "Error 25245 a/../../evil2.txt a/../../evil2.txt", "Progress 100 29",
                     "End a/../../evil2.txt fail", "Error 25245 .. ..", "Progress 100 43", "End .. fail",
                     "Begin ok/..name 1", "Progress 100 100", "End ok/..name pass"}));
    EXPECT_FALSE(fs::exists(dir_ + "evil.txt"));
    EXPECT_FALSE(fs::exists(dir_ + "evil2.txt"));
    EXPECT_EQ(ReadFile(target_ + "ok/..name"), "fine");

    // Backslashes are folder separators too, and a drive prefix is no way out.
    for (const std::string name : {"..\\evil3.txt", "C:\\..\\evil4.txt", "C:..\\evil5.txt"}) {
        SCOPED_TRACE(name);
        log_.lines.clear();
        EXPECT_EQ(Run({{name, "x"}}), 0);
        EXPECT_EQ(log_.lines.size(), 5u);
        EXPECT_EQ(log_.lines[1].rfind("Error 25245 ", 0), 0u);
    }
    EXPECT_FALSE(fs::exists(dir_ + "evil3.txt"));
    EXPECT_FALSE(fs::exists(dir_ + "evil4.txt"));
    EXPECT_FALSE(fs::exists(dir_ + "evil5.txt"));
}

TEST_F(ExtractRun, SymbolicLinksInTheTargetAreNeverFollowed) {
    SKIP_ON_WINDOWS("symbolic links need a privilege on Windows; reparse points are refused the same way");
    fs::create_directories(dir_ + "outside");
    fs::create_directories(target_);
    WriteFile(dir_ + "outside/f", "untouched");
    fs::create_directory_symlink(dir_ + "outside", target_ + "link");
    fs::create_symlink(dir_ + "outside/f", target_ + "flink");
    EXPECT_EQ(Run({{"link/x.txt", "x"}, {"flink", "y"}, {"link/", "", 0, 0x10}}), 0);
    EXPECT_EQ(log_.lines, Lines({"Begin link/x.txt 1", "Error 25245 link/x.txt link/x.txt", "Progress 100 50",
                                 "End link/x.txt fail", "Begin flink 1", "Error 25245 flink flink",
                                 "Progress 100 100", "End flink fail", "End link/ pass"}));
    EXPECT_FALSE(fs::exists(dir_ + "outside/x.txt"));

    // A folder entry under the link is not created through it either.
    log_.lines.clear();
    unzip_.SetCreateStoredDirs(true);
    Run({{"link/made/", "", 0, 0x10}});
    EXPECT_EQ(log_.lines, Lines({"Error 25245 link/made/ link/made/", "End link/made/ fail"}));
    EXPECT_FALSE(fs::exists(dir_ + "outside/made"));
    EXPECT_EQ(ReadFile(dir_ + "outside/f"), "untouched");
    EXPECT_TRUE(fs::is_symlink(target_ + "flink"));

    // Nor does a rename handler that keeps the name make folders through it.
    log_.lines.clear();
    unzip_.OnRenameFile = [](TObject*, const std::string&, std::string&) {};
    Run({{"link/new/x.txt", "x"}});
    EXPECT_EQ(log_.lines, Lines({"Begin link/new/x.txt 1", "Error 25245 link/new/x.txt link/new/x.txt",
                                 "Progress 100 100", "End link/new/x.txt fail"}));
    EXPECT_FALSE(fs::exists(dir_ + "outside/new"));

    // A confirmed overwrite clears no read-only flag through a link either.
    fs::permissions(dir_ + "outside/f", fs::perms::owner_read);
    unzip_.SetConfirmOverwrites(true);
    unzip_.OnFileExists = [](TObject*, const std::string&, std::string&, TOverwriteMode& mode) { mode = omOverwrite; };
    Run({{"flink", "y"}});
    EXPECT_EQ(fs::status(dir_ + "outside/f").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(ReadFile(dir_ + "outside/f"), "untouched");
}

}  // namespace
