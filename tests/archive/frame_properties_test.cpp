#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/format/archive_exceptions.h"
#include "archive/unzip.h"
#include "frame_test_support.h"
#include "testable_unzip.h"
#include "support/temp_folder.h"

using namespace frame_test;

namespace {

TEST(UnZipProperties, Defaults) {
    TUnZip unzip;
    EXPECT_EQ(unzip.ArchiveFile(), "");
    EXPECT_EQ(unzip.ArcType(), atNA);
    EXPECT_FALSE(unzip.ConfirmOverwrites());
    EXPECT_FALSE(unzip.CreateStoredDirs());
    EXPECT_EQ(unzip.DateAttribute(), daFileDate);
    EXPECT_EQ(unzip.ExtractDir(), "");
    EXPECT_TRUE(unzip.FileSpec().empty());
    EXPECT_EQ(unzip.OverwriteMode(), omOverwrite);
    EXPECT_EQ(unzip.PasswordAttempts(), 3);
    EXPECT_TRUE(unzip.Passwords().empty());
    EXPECT_TRUE(unzip.RestoreFileAttr());
    EXPECT_TRUE(unzip.UseStoredDirs());
    EXPECT_EQ(unzip.ZipCmntBufSize(), 0);
    EXPECT_EQ(unzip.CpuType(), cptAuto);
    EXPECT_TRUE(unzip.RecurseDirs());
    EXPECT_TRUE(unzip.TranslateOemChar());
    EXPECT_FALSE(unzip.IsCancelled());
    EXPECT_FALSE(unzip.OnBegin || unzip.OnEnd || unzip.OnError || unzip.OnProgress || unzip.OnGetPassword ||
                 unzip.OnElapsedTime || unzip.OnActivate || unzip.OnDeactivate);
}

TEST(UnZipProperties, ZipCmntBufSizeIsClamped) {
    TUnZip unzip;
    struct Case {
        int32_t given, stored;
    } cases[] = {{1, 2000}, {40000, 32767}, {2000, 2000}, {32767, 32767}, {5000, 5000}, {-7, 2000}};
    for (const Case& c : cases) {
        unzip.SetZipCmntBufSize(c.given);
        EXPECT_EQ(unzip.ZipCmntBufSize(), c.stored) << c.given;
    }
}

TEST(UnZipProperties, ListsAreCopiedOnAssignment) {
    TUnZip unzip;
    TStringList spec = {"*.txt", "docs/*"};
    unzip.SetFileSpec(spec);
    spec[0] = "changed";
    EXPECT_EQ(unzip.FileSpec()[0], "*.txt");

    TStringList passwords = {"one"};
    unzip.SetPasswords(passwords);
    passwords.push_back("two");
    EXPECT_EQ(unzip.Passwords().size(), 1u);
}

TEST(UnZipProperties, ExtractDirAlwaysEndsInTheSeparator) {
    const TempFolder scratch;
    const std::string dir = scratch.str() + "/";
    WriteFile(dir + "a.zip", std::string(100, 'x'));
    TUnZip unzip;
    struct Case {
        const char* given;
        const char* stored;
    } cases[] = {
        {"/opt/app", "/opt/app/"},
        {"/opt/app/", "/opt/app/"},
        {"rel/dir", "rel/dir/"},
        {"C:", "C:/"},
    };
    for (const Case& c : cases) {
        unzip.SetExtractDir(c.given);
        EXPECT_EQ(SlashPath(unzip.ExtractDir()), c.stored) << c.given;
    }
    unzip.SetExtractDir("");
    EXPECT_EQ(unzip.ExtractDir(), "");  // no archive yet
    unzip.SetArchiveFile(dir + "a.zip");
    unzip.SetExtractDir("");
    EXPECT_EQ(SlashPath(unzip.ExtractDir()), SlashPath(dir));  // the archive's folder
}

TEST(UnZipProperties, ArchiveFileThatDoesNotExistIsCleared) {
    const TempFolder scratch;
    const std::string dir = scratch.str() + "/";
    TUnZip unzip;
    WriteFile(dir + "a.zip", std::string(100, 'x'));
    unzip.SetArchiveFile(dir + "a.zip");
    EXPECT_EQ(unzip.ArchiveFile(), dir + "a.zip");
    EXPECT_EQ(unzip.ArchiveSize(), 100);
    unzip.SetArchiveFile(dir + "missing.zip");
    EXPECT_EQ(unzip.ArchiveFile(), "");
    EXPECT_EQ(unzip.ArcType(), atNA);
    unzip.SetArchiveFile(dir);  // a folder is not an archive file
    EXPECT_EQ(unzip.ArchiveFile(), "");
}

TEST(UnZipProperties, ArcTypeAssignmentDetectsAgainOrRaises) {
    const TempFolder scratch;
    const std::string dir = scratch.str() + "/";
    TUnZip unzip;
    EXPECT_NO_THROW(unzip.SetArcType(atZip));  // no ArchiveFile: nothing happens
    EXPECT_EQ(unzip.ArcType(), atNA);

    WriteFile(dir + "a.bin", std::string(100, 'x'));
    unzip.SetArchiveFile(dir + "a.bin");
    unzip.SetArcType(atRar);
    EXPECT_NE(unzip.ArcType(), atRar);  // the value given is ignored

    ASSERT_EQ(unlink((dir + "a.bin").c_str()), 0);  // the file can no longer be opened
    try {
        unzip.SetArcType(atZip);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_STREQ(e.what(), "Error opening file");
    }
    EXPECT_EQ(unzip.ArcType(), atNA);
}

TEST(UnZipProperties, CancelFlagIsSharedByReference) {
    TUnZip unzip;
    unzip.CancelFlag() = true;
    EXPECT_TRUE(unzip.IsCancelled());
    unzip.SetCancel(false);
    EXPECT_FALSE(unzip.CancelFlag());
}

TEST(UnZipProperties, RunResetClearsTheLastRun) {
    TestableUnZip unzip;
    std::vector<int32_t> codes;
    unzip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
        codes.push_back(code);
    };
    unzip.CancelFlag() = true;
    unzip.SetFilesExtractedDirectly(4);
    unzip.SetBytesRemainingDirectly(99);
    unzip.SetNewestDateDirectly(0x5D89BF54);
    unzip.SetOutputPathDirectly("/x");
    unzip.SetPassword("pw");
    unzip.SetCpuType(cpt80486);
    unzip.ReportProgress(1, 2, 1000);  // leaves a last archive percentage
    ASSERT_NE(unzip.LastArchivePercent(), 0);
    unzip.ResetRunState();
    EXPECT_TRUE(codes.empty());  // clearing the cancel flag reports nothing
    EXPECT_FALSE(unzip.IsCancelled());
    EXPECT_EQ(unzip.FilesExtracted(), 0);
    EXPECT_EQ(unzip.BytesRemaining(), 0);
    EXPECT_EQ(unzip.NewestDate(), 0u);
    EXPECT_EQ(unzip.OutputPath(), "");
    EXPECT_EQ(unzip.Password(), "");
    EXPECT_EQ(unzip.LastArchivePercent(), 0);
    EXPECT_EQ(unzip.CpuType(), cptAuto);
    unzip.SetCpuType(cpt80386);
    unzip.ResetRunState();
    EXPECT_EQ(unzip.CpuType(), cpt80386);  // only cpt80486 is reset
}

}  // namespace
