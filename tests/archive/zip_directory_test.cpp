#include "archive/unzip.h"

#include "archive/detection_test_files.h"
#include "archive/tool_made_fixtures.h"
#include "archive/format/error_codes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace {

using detection_test::NativePath;
using detection_test::Report;
using detection_test::ReadBytes;
using detection_test::TempFolder;
using detection_test::WriteBytes;

class ZipDirectory : public detection_test::ReportingTest {
protected:
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const TUnBaseHeader& entry : unzip.ListEntries()) names.push_back(entry.Name);
        return names;
    }
    // Assigns a made archive, copied into the test's folder.
    void Assign(const std::string& made) {
        CopyToolMade(made, folder / made);
        unzip.SetArchiveFile(folder / made);
    }

    TempFolder folder;
};

TEST_F(ZipDirectory, AssigningTheArchiveDetectsItAndTheListingShowsEveryField) {
    Assign("fields.zip");
    EXPECT_EQ(unzip.ArcType(), atZip);
    EXPECT_EQ(unzip.HeaderState(), (THeaderTypeState{htLocal, htCentral, htEnding}));
    const std::string archive = ReadBytes(folder / "fields.zip");
    EXPECT_EQ(unzip.ArchiveOffset(), detection_test::StoredDirectoryOffset(archive));
    EXPECT_EQ(std::string(unzip.EndRecordArea().begin(), unzip.EndRecordArea().end()), archive.substr(archive.size() - 22));
    EXPECT_EQ(std::string(unzip.LocalHeaderArea().begin(), unzip.LocalHeaderArea().end()), archive.substr(0, 30));

    // fields.txt holds what Python's zipfile reads from the same directory.
    std::ostringstream listed;
    for (const TUnBaseHeader& e : unzip.ListEntries()) {
        char line[200];
        std::snprintf(line, sizeof line, "%s %llu %llu %u %u %08x %08x %08x\n", e.Name.c_str(),
                      static_cast<unsigned long long>(e.PackedSize), static_cast<unsigned long long>(e.UnpackedSize),
                      e.Method, e.Flags, e.Crc32, e.DosDateTime, e.Record.Attributes);
        listed << line;
    }
    EXPECT_EQ(listed.str(), NativePath(ReadBytes(ToolMade("fields.txt"))));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ZipDirectory, SelectionDecidesTheListAndTheTotals) {
    Assign("selection.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{"old.txt", "new.txt", "secret.bin"}));
    EXPECT_EQ(unzip.NewestDate(), (((2001u - 1980) << 9 | 5 << 5 | 1) << 16) | (8 << 11));
    EXPECT_EQ(unzip.UnpackedTotal(), 70u);
    EXPECT_EQ(unzip.PackedTotal(), 70u - 12);  // the enciphered entry's header does not count

    unzip.SetFileSpec({"*.txt"});
    EXPECT_EQ(Names(), (std::vector<std::string>{"old.txt", "new.txt"}));
    EXPECT_EQ(unzip.UnpackedTotal(), 30u);
    unzip.SetFileSpec({"old*"});
    EXPECT_EQ(Names(), (std::vector<std::string>{"old.txt"}));
    EXPECT_EQ(unzip.NewestDate(), (((1999u - 1980) << 9 | 12 << 5 | 31) << 16) | (23 << 11 | 59 << 5 | 29));
}

TEST_F(ZipDirectory, MissingLocalHeadersAreReportedOneByOne) {
    Assign("missing-locals.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{"good.txt", "last.txt"}));
    EXPECT_EQ(reports, (std::vector<Report>{{"lost.txt", "", "0", ErrorCode::BadFileHeader}, {"self.txt", "", "0", ErrorCode::BadFileHeader}}));

    // Bytes put in front without adjusting the offsets move every local header alike.
    reports.clear();
    WriteBytes(folder / "shifted.zip", std::string(300, '\0') + ReadBytes(ToolMade("one-1-two-2.zip")));
    unzip.SetArchiveFile(folder / "shifted.zip");
    EXPECT_EQ(unzip.ArcType(), atZip);
    EXPECT_EQ(unzip.OffsetAdjust(), 300);
    EXPECT_EQ(Names(), (std::vector<std::string>{"one", "two"}));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ZipDirectory, WithoutADirectoryOnCorruptZipHeaderDecidesOnTheLocalWalk) {
    const std::string whole = ReadBytes(ToolMade("one-two.zip"));
    WriteBytes(folder / "cut.zip", whole.substr(0, whole.size() - 22));  // no end record
    unzip.SetArchiveFile(folder / "cut.zip");
    ASSERT_EQ(unzip.HeaderState(), THeaderTypeState{htLocal});
    EXPECT_EQ(Names(), (std::vector<std::string>{"one.txt", "two.txt"}));

    std::vector<THeaderTypeState> asked;
    unzip.OnCorruptZipHeader = [&](TObject* sender, THeaderTypeState state, bool&) {
        EXPECT_EQ(sender, &unzip);
        asked.push_back(state);
    };
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(asked, std::vector<THeaderTypeState>{THeaderTypeState{htLocal}});
    unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    EXPECT_EQ(Names(), (std::vector<std::string>{"one.txt", "two.txt"}));
}

TEST_F(ZipDirectory, LongNamesAreKeptWholeAndTheExtraFieldAfterThemIsRead) {
    const std::string longName(300, 'n');
    Assign("long-name.zip");
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, longName);
    EXPECT_EQ(entries[0].Record.LocalPosition, 0);             // from the zip64 block
    EXPECT_EQ(entries[0].UnpackedSize, (uint64_t{1} << 32) | 4);  // high word from the 0x0064 block
    EXPECT_EQ(entries[1].Name, "after.txt");
    EXPECT_TRUE(reports.empty());
}

TEST_F(ZipDirectory, KoreanNamesWithAndWithoutTheUtf8Flag) {
    Assign("korean.zip");
    const std::string korean = NativePath("한국어/문서.txt");
    EXPECT_EQ(Names(), (std::vector<std::string>{korean, korean}));
    unzip.SetTranslateOemChar(false);
    EXPECT_EQ(Names(), (std::vector<std::string>{NativePath("\xC7\xD1\xB1\xB9\xBE\xEE/\xB9\xAE\xBC\xAD.txt"), korean}));
    unzip.SetTranslateOemChar(true);
    Assign("korean-python.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{korean}));
}

TEST_F(ZipDirectory, BackslashesInStoredNamesBecomeTheNativeSeparator) {
    Assign("backslashes.zip");
    EXPECT_EQ(Names(), (std::vector<std::string>{NativePath("dir/sub/file.txt")}));
}

// Lying headers end the walks early or give errors; they never crash, hang or
// list entries that are not there. A directory found where its stored offset
// points is read even when the sizes around it lie.
TEST_F(ZipDirectory, LyingHeadersNeverCrashOrLoop) {
    // Case n is lying-<n>.zip: a zipcraft archive with the field its name describes changed.
    struct Case {
        const char* name;
        size_t listed;
    };
    const Case cases[] = {
        {"directory size beyond the file", 1},
        {"name length running past the end", 1},
        {"extra length running past the end", 1},
        {"extra block longer than its field", 1},
        {"zip64 locator pointing outside the file", 1},
        {"zip64 directory size larger than its position", 1},
        {"wide end record positions beyond the file", 1},
        {"local walk with a huge compressed size", 1},
        {"a scrambled directory is not read: the plain local headers are walked instead", 1},
        {"a local walk over scrambled local headers", 0},
        {"disk numbers asking for 65535 rounds", 1},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        char made[16];
        std::snprintf(made, sizeof made, "lying-%02zu.zip", n + 1);
        unzip.SetArchiveFile(ToolMade(made));
        EXPECT_EQ(unzip.ListEntries().size(), cases[n].listed) << cases[n].name;
    }
}

TEST_F(ZipDirectory, TheRunTotalsOfAZip64ArchiveFromPython) {
    Assign("zip64-python.zip");
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].UnpackedSize, 1000u);
    EXPECT_EQ(unzip.UnpackedTotal(), 1000u);
}

// Through the real walk: the header copy the extraction loop restores is the
// header as it stands in the file, and the raw name is the stored one, for
// the entries whose packed form differs most from that header.
TEST_F(ZipDirectory, TheEntryListKeepsEachCentralHeaderAsStored) {
    unzip.SetFileSpec({"*"});
    Assign("central-as-stored.zip");
    ASSERT_EQ(unzip.OffsetAdjust(), 100);
    const std::string headers = ReadBytes(ToolMade("central-as-stored.headers"));
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    ASSERT_EQ(entries.size() * TZipCentralHeader::kSize, headers.size());
    const std::vector<std::string> rawNames = {std::string(65535, 'n'), "caf\x82.txt", "cut", "high"};
    size_t index = 0;
    for (const TUnBaseHeader& entry : entries) {
        SCOPED_TRACE(index);
        ASSERT_TRUE(entry.CentralCopy);
        EXPECT_EQ(std::string(entry.CentralCopy->begin(), entry.CentralCopy->end()),
                  headers.substr(index * TZipCentralHeader::kSize, TZipCentralHeader::kSize));
        EXPECT_EQ(entry.RawName, rawNames[index]);
        ++index;
    }
    EXPECT_NE(entries[1].Name, entries[1].RawName);  // translated from the OEM code page
    EXPECT_EQ(entries[3].UnpackedSize, (uint64_t{1} << 32) | 1);
}

}  // namespace
