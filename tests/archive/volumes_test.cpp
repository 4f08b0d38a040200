#include "archive/reader/disk_manager.h"
#include "archive/reader/disk_spann_obj.h"
#include "archive/reader/file_stream32.h"
#include "archive/unzip.h"

#include "archive/detection_test_files.h"
#include "archive/tool_made_fixtures.h"
#include "archive/volumes_fake_drive.h"
#include "archive/format/error_codes.h"
#include "platform/errors.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

namespace {

using detection_test::FakeDrive;
using detection_test::Report;
using detection_test::ReadBytes;
using detection_test::TempFolder;
using detection_test::WriteBytes;

class Volumes : public detection_test::ReportingTest {
protected:
    // Three files of incompressible bytes split into 64 KiB parts:
    // data.z01 .. data.z03 and data.zip, the last part.
    void CopySplitArchive() { CopyToolMade("volumes", folder.Path()); }

    TempFolder folder;
};

TEST_F(Volumes, VolumeNamesFollowTheSplitNaming) {
    WriteBytes(folder / "data.zip", std::string(30, 'x'));
    unzip.SetArchiveFile(folder / "data.zip");
    unzip.SetCurrentVolumeName(folder / "data.zip");
    EXPECT_EQ(unzip.VolumeName(0, 3), folder / "data.z01");
    EXPECT_EQ(unzip.VolumeName(9, 12), folder / "data.z10");
    EXPECT_EQ(unzip.VolumeName(99, 200), folder / "data.z100");
    EXPECT_EQ(unzip.VolumeName(3, 3), folder / "data.zip");
    EXPECT_EQ(unzip.VolumeName(4, 3), folder / "data.zip");
    unzip.SetCurrentVolumeName(folder / "data.z01");
    EXPECT_EQ(unzip.VolumeName(1, 3), folder / "data.z02");
}

TEST_F(Volumes, ASplitArchiveAsksForEachVolumeByName) {
    FakeDrive drive(folder.Path());
    CopySplitArchive();
    ASSERT_TRUE(platform::FileExists(folder / "data.z03"));
    unzip.SetArchiveFile(folder / "data.zip");
    ASSERT_EQ(unzip.ArcType(), atZipMV);
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(reports.empty());  // local headers on other parts are not looked for
    EXPECT_EQ(entries[0].Record.Disk, 1);
    EXPECT_EQ(entries[0].Record.LocalPosition, 4);  // after the split marker of the first part
    EXPECT_GT(entries[2].Record.Disk, entries[0].Record.Disk);

    struct Asked {
        std::string name, volumeID;
        bool exists;
    };
    std::vector<Asked> asked;
    unzip.OnNextVolume = [&](TObject* sender, std::string& name, const std::string& id, bool exists, bool&) {
        EXPECT_EQ(sender, &unzip);
        asked.push_back({name, id, exists});
    };
    const int lastDisk = 3;
    unzip.SetCurrentVolumeName(folder / "data.zip");
    std::unique_ptr<TFileStream32> archive;
    ASSERT_TRUE(unzip.NextVolume(0, lastDisk, archive));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->Size(), static_cast<int64_t>(ReadBytes(folder / "data.z01").size()));
    EXPECT_EQ(unzip.VolumeNumber(), 1);
    ASSERT_TRUE(unzip.NextVolume(lastDisk, lastDisk, archive));
    EXPECT_EQ(unzip.VolumeNumber(), 4);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].name, folder / "data.z01");
    EXPECT_EQ(asked[0].volumeID, "1");
    EXPECT_TRUE(asked[0].exists);
    EXPECT_EQ(asked[1].name, folder / "data.zip");  // the last disk is the archive itself
    EXPECT_EQ(asked[1].volumeID, "4");
    EXPECT_TRUE(reports.empty());
}

TEST_F(Volumes, AHandlerNamingAMissingFileIsAskedAgain) {
    FakeDrive drive(folder.Path());
    CopySplitArchive();
    unzip.SetArchiveFile(folder / "data.zip");
    unzip.SetCurrentVolumeName(folder / "data.zip");
    std::vector<std::pair<std::string, bool>> calls;
    unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string&, bool exists, bool& cancel) {
        calls.emplace_back(name, exists);
        name = calls.size() == 1 ? folder / "moved/data.z02" : folder / "data.z02";
        cancel = calls.size() > 3;  // a volume that never turns up ends the test instead of hanging it
    };
    std::unique_ptr<TFileStream32> archive;
    ASSERT_TRUE(unzip.NextVolume(1, 3, archive));
    EXPECT_EQ(calls, (std::vector<std::pair<std::string, bool>>{{folder / "data.z02", true},
                                                               {folder / "moved/data.z02", false}}));
    EXPECT_EQ(unzip.CurrentVolumeName(), folder / "data.z02");

    // A handler that gives up.
    unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string&, bool, bool& cancel) {
        name = folder / "missing.z09";
        cancel = true;
    };
    EXPECT_FALSE(unzip.NextVolume(1, 3, archive));
    EXPECT_FALSE(archive);
    EXPECT_TRUE(unzip.IsCancelled());
    EXPECT_EQ(reports, (std::vector<Report>{{folder / "missing.z09", "", "2", ErrorCode::UserCanceled}}));
}

TEST_F(Volumes, WithoutAnOnNextVolumeHandlerTheRunIsCancelledWithTwoReports) {
    FakeDrive drive(folder.Path());
    CopySplitArchive();
    unzip.SetArchiveFile(folder / "data.zip");
    unzip.SetCurrentVolumeName(folder / "data.zip");
    std::unique_ptr<TFileStream32> archive;
    EXPECT_FALSE(unzip.NextVolume(0, 3, archive));
    EXPECT_TRUE(unzip.IsCancelled());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].code, ErrorCode::UserCanceled);
    EXPECT_EQ(reports[0].fileName, folder / "data.zip");
    EXPECT_EQ(reports[1], (Report{folder / "data.zip", "OnNextVolume", "1", ErrorCode::UserCanceled}));
}

// The last part of a split archive may begin with a local header of its own;
// its end record still names it a part.
TEST_F(Volumes, ALastPartBeginningWithALocalHeaderIsStillAPart) {
    FakeDrive drive(folder.Path());
    CopyToolMade("last-part.zip", folder / "last.zip");
    CopyToolMade("one-part.zip", folder / "one.zip");
    unzip.SetArchiveFile(folder / "last.zip");
    EXPECT_EQ(unzip.ArcType(), atZipMV);
    unzip.SetArchiveFile(folder / "one.zip");
    EXPECT_EQ(unzip.ArcType(), atZip);
}

TEST_F(Volumes, ArchivesWalkedByLocalHeadersAskForTheVolumeAfterTheArchiveItself) {
    FakeDrive drive(folder.Path());
    const std::string whole = ReadBytes(ToolMade("a.zip"));
    WriteBytes(folder / "x.zip", whole.substr(0, whole.size() - 22));  // no end record
    WriteBytes(folder / "x.z04", "");
    unzip.SetArchiveFile(folder / "x.zip");
    ASSERT_EQ(unzip.HeaderState(), THeaderTypeState{htLocal});
    unzip.SetCurrentVolumeName(folder / "x.zip");
    std::vector<std::string> asked;
    unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string& id, bool, bool&) {
        asked.push_back(name + " " + id);
    };
    std::unique_ptr<TFileStream32> archive;
    EXPECT_TRUE(unzip.NextVolume(2, 2, archive));
    EXPECT_EQ(asked, std::vector<std::string>{folder / "x.z04" + " 4"});
}

TEST_F(Volumes, TheDriveDecidesBetweenSpannedAndSplit) {
    FakeDrive drive(folder.Path());
    WriteBytes(folder / "span.zip", std::string("PK\x07\x08", 4) + std::string(100, 'd'));
    struct Case {
        platform::DriveType type;
        const char* label;
        TArcType expected;
        uint16_t diskNumber;
    };
    const Case cases[] = {
        {platform::DriveType::Removable, "PKBACK# 003", atZipDS, 3},
        {platform::DriveType::Removable, "pkback# 001", atZipDS, 0},  // the number needs the exact mark
        {platform::DriveType::Removable, "BACKUP", atZipMV, 0},
        {platform::DriveType::Fixed, "PKBACK# 001", atZipMV, 1},
        {platform::DriveType::Removable, "PKBACK# 0x1", atZipDS, 0},
        {platform::DriveType::Removable, "PKBACK# 00000007", atZipDS, 7},  // a long label of a Linux file system
    };
    for (const Case& c : cases) {
        drive.type = c.type;
        drive.label = c.label;
        unzip.SetArchiveFile(folder / "span.zip");
        EXPECT_EQ(unzip.ArcType(), c.expected) << c.label;
        EXPECT_EQ(unzip.DiskManager().DiskNumber(), c.diskNumber) << c.label;
        EXPECT_EQ(unzip.CheckSpannedDisk(), c.expected) << c.label;
    }
    drive.ready = false;  // detection asks nobody: a drive that is not ready gives atNA
    unzip.SetArchiveFile(folder / "span.zip");
    EXPECT_EQ(unzip.ArcType(), atNA);
    EXPECT_TRUE(reports.empty());
}

TEST(DiskManager, QueriesTheDriveAndKeepsItsFacts) {
    FakeDrive drive("/media/disk/");
    drive.type = platform::DriveType::Removable;
    drive.label = "PKBACK# 012";
    TDiskManager disk;
    ASSERT_TRUE(disk.Query("/media/disk/a.zip", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(disk.Drive(), "/media/disk/");
    EXPECT_EQ(disk.VolumeLabel(), "PKBACK# 012");
    EXPECT_EQ(disk.DiskNumber(), 12);
    EXPECT_EQ(disk.SerialNumberText(), "1234ABCD");
    EXPECT_EQ(disk.FileSystemName(), "vfat");
    EXPECT_EQ(disk.DriveTypeName(), "Unknown");  // removable media are named by a query we do not have
    EXPECT_EQ(disk.TotalBytes(), 1440000u);
    drive.type = platform::DriveType::CdRom;
    ASSERT_TRUE(disk.Query("/media/disk/a.zip", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(disk.DriveTypeName(), "CD-ROM");
}

TEST(DiskManager, EveryFailureOfTheQueryIsReported) {
    FakeDrive drive("/media/disk/");
    std::vector<int32_t> codes;
    auto report = [&](const std::string& where, int32_t code) {
        EXPECT_EQ(where, "/media/disk/");
        codes.push_back(code);
    };
    TDrivePrompt giveUp = [](TObject*, const std::string&, bool&) {};
    TDiskManager disk;
    auto query = [&](const TDrivePrompt& notReady, const TDrivePrompt& writeProtected) {
        codes.clear();
        return disk.Query("/media/disk/a.zip", nullptr, notReady, writeProtected, report);
    };

    drive.ready = false;
    EXPECT_FALSE(query(nullptr, nullptr));
    EXPECT_EQ(codes, std::vector<int32_t>{ErrorCode::NotAccessible});
    EXPECT_FALSE(query(giveUp, nullptr));
    EXPECT_EQ(codes, std::vector<int32_t>{ErrorCode::UserCanceled});
    int asked = 0;
    TDrivePrompt insertDisk = [&](TObject*, const std::string& where, bool& cancel) {
        EXPECT_EQ(where, "/media/disk/");
        ++asked;
        drive.ready = true;
        cancel = false;
    };
    EXPECT_TRUE(query(insertDisk, nullptr));
    EXPECT_EQ(asked, 1);

    drive.writeProtected = true;
    EXPECT_FALSE(query(nullptr, nullptr));
    EXPECT_EQ(codes, std::vector<int32_t>{ErrorCode::WriteProtected});
    EXPECT_FALSE(query(nullptr, giveUp));
    EXPECT_EQ(codes, std::vector<int32_t>{ErrorCode::UserCanceled});
    TDrivePrompt unprotect = [&](TObject*, const std::string&, bool& cancel) {
        drive.writeProtected = false;
        cancel = false;
    };
    EXPECT_TRUE(query(nullptr, unprotect));

    // Unreadable volume: the not-accessible prompt (Cancel without one).
    drive.readable = false;
    EXPECT_FALSE(query(nullptr, nullptr));
    EXPECT_EQ(codes, std::vector<int32_t>{ErrorCode::NotAccessible});
    std::string shown;
    platform::SetDriveNotAccessiblePrompt([&](const std::string& text) {
        shown = text;
        drive.readable = true;
        return true;  // Retry
    });
    EXPECT_TRUE(query(nullptr, nullptr));
    platform::SetDriveNotAccessiblePrompt(nullptr);
    EXPECT_EQ(shown, "/media/disk/is not accessible\r\n\r\n" + platform::ErrorText(EIO));

    drive.type = platform::DriveType::NoRootDirectory;
    EXPECT_FALSE(query(nullptr, nullptr));
    EXPECT_EQ(codes, std::vector<int32_t>{ErrorCode::NotAccessible});
}

// A spanned set: every disk holds a file of the same name, labelled
// "PKBACK# 001" and so on. Inserting a disk copies its part into the drive.
class SpannedDisks : public Volumes {
protected:
    void SetUp() override {
        CopySplitArchive();
        parts = {folder / "data.z01", folder / "data.z02", folder / "data.z03", folder / "data.zip"};
        std::filesystem::create_directory(folder / "drive");
        drive.type = platform::DriveType::Removable;
    }
    void Insert(size_t disk) {
        WriteBytes(archive, ReadBytes(parts[disk - 1]));
        char label[16];
        std::snprintf(label, sizeof label, "PKBACK# %03zu", disk);
        drive.label = label;
        inserted.push_back(disk);
    }

    FakeDrive drive{folder / "drive/"};
    std::string archive = folder / "drive/archive.zip";
    std::vector<std::string> parts;
    std::vector<size_t> inserted;
};

TEST_F(SpannedDisks, TheDiskEventsBringTheLastTheFirstAndTheNextDisk) {
    Insert(1);
    unzip.SetArchiveFile(archive);
    ASSERT_EQ(unzip.ArcType(), atZipDS);
    TObject* spanning = &unzip.DiskSpannObj();
    unzip.OnGetZipLastDisk = [&](TObject* sender, bool& cancel) {
        EXPECT_EQ(sender, spanning);
        Insert(4);
        cancel = false;
    };
    unzip.OnGetZipFirstDisk = [&](TObject* sender, bool& cancel) {
        EXPECT_EQ(sender, spanning);
        Insert(1);
        cancel = false;
    };
    std::vector<std::string> nextAsked;
    unzip.OnGetZipNextDisk = [&](TObject* sender, const std::string& volume, bool& cancel) {
        EXPECT_EQ(sender, spanning);
        nextAsked.push_back(volume);
        Insert(std::stoul(volume));
        cancel = false;
    };

    // The walk asks for the last disk, where the directory is.
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(inserted, (std::vector<size_t>{1, 4}));
    EXPECT_EQ(unzip.DiskSpannObj().Stage(), 1);
    EXPECT_TRUE(reports.empty());

    // The first entry's disk, checked by its local header; then the next disk
    // for data running on, checked by its label.
    std::unique_ptr<TFileStream32> stream;
    unzip.DiskSpannObj().SetStage(entries[0].Record.Disk);
    ASSERT_TRUE(unzip.DiskSpannObj().GetDisk(stream, entries[0].Record.LocalPosition));
    ASSERT_TRUE(stream);
    EXPECT_EQ(unzip.ArchiveSize(), static_cast<int64_t>(ReadBytes(parts[0]).size()));
    ASSERT_TRUE(unzip.DiskSpannObj().GetDisk(stream));
    EXPECT_EQ(nextAsked, std::vector<std::string>{"2"});
    EXPECT_EQ(inserted, (std::vector<size_t>{1, 4, 1, 2}));
    EXPECT_EQ(unzip.DiskSpannObj().Stage(), 3);
    EXPECT_FALSE(unzip.IsCancelled());

    // A wrong disk is refused until the user gives up.
    unzip.OnGetZipNextDisk = [&](TObject*, const std::string&, bool&) {};
    EXPECT_FALSE(unzip.DiskSpannObj().GetDisk(stream));
    EXPECT_FALSE(stream);
    EXPECT_TRUE(unzip.IsCancelled());
}

TEST_F(SpannedDisks, WithoutOnGetZipLastDiskNothingIsListed) {
    Insert(1);
    unzip.SetArchiveFile(archive);
    ASSERT_EQ(unzip.ArcType(), atZipDS);
    EXPECT_TRUE(unzip.ListEntries().empty());
    EXPECT_EQ(reports, (std::vector<Report>{{archive, "OnGetZipLastDisk", "0", ErrorCode::EventNotAssigned}}));
    EXPECT_TRUE(unzip.IsCancelled());

    // The other disk events are required in their turn as well.
    reports.clear();
    unzip.CancelFlag() = false;
    std::unique_ptr<TFileStream32> stream;
    unzip.DiskSpannObj().SetStage(1);
    EXPECT_FALSE(unzip.DiskSpannObj().GetDisk(stream, 4));
    unzip.DiskSpannObj().SetStage(2);
    unzip.CancelFlag() = false;
    EXPECT_FALSE(unzip.DiskSpannObj().GetDisk(stream));
    EXPECT_EQ(reports, (std::vector<Report>{{archive, "OnGetZipFirstDisk", "1", ErrorCode::EventNotAssigned},
                                            {archive, "OnGetZipNextDisk", "2", ErrorCode::EventNotAssigned}}));
}

TEST_F(SpannedDisks, ADriveThatIsNotReadyIsReportedByTheDiskCheck) {
    Insert(1);
    unzip.SetArchiveFile(archive);
    drive.ready = false;
    unzip.DiskSpannObj().SetStage(1);
    EXPECT_FALSE(unzip.DiskSpannObj().CheckDisk(-1));
    EXPECT_EQ(reports, (std::vector<Report>{{folder / "drive/", "0", "0", ErrorCode::NotAccessible}}));

    // The component's own prompt may bring the drive back.
    unzip.OnDriveNotReady = [&](TObject* sender, const std::string& where, bool& cancel) {
        EXPECT_EQ(sender, &unzip);
        EXPECT_EQ(where, folder / "drive/");
        drive.ready = true;
        cancel = false;
    };
    reports.clear();
    EXPECT_TRUE(unzip.DiskSpannObj().CheckDisk(-1));
    EXPECT_TRUE(reports.empty());

    // No file on the disk at all.
    std::filesystem::remove(archive);
    EXPECT_FALSE(unzip.DiskSpannObj().CheckDisk(-1));
    EXPECT_EQ(reports, (std::vector<Report>{{archive, "", "0", ErrorCode::OpenError}}));
}

}  // namespace
