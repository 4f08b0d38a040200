// Archives whose headers lie: names that differ between the two headers,
// entries sharing bytes, data that cannot be decoded or ends short of its
// size, and split archives whose data runs past their last volume. Each is
// refused for the entry concerned, with a report, and nothing is written in
// its name beyond what its own data holds (nor left once the entry failed).

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "extract_test_support.h"
#include "frame_test_support.h"
#include "support/temp_folder.h"

using namespace extract_test;
using frame_test::ReadFile;
using frame_test::SampleText;
using frame_test::WriteFile;
namespace fs = std::filesystem;

namespace {

class DamagedArchive : public ::testing::Test {
protected:
    void SetUp() override {
        log_.folder = target_;
        // What a failed entry's file held is taken when the first error is reported.
        unzip_.OnError = [this, report = unzip_.OnError](TObject* sender, const std::string& file,
                                                         const std::string& extended, const std::string& volume,
                                                         int32_t code) {
            report(sender, file, extended, volume, code);
            if (!atFirstError_) atFirstError_ = Written();
        };
    }

    int32_t Run(const std::string& zip) {
        WriteFile(archive_, zip);
        unzip_.SetArchiveFile(archive_);
        unzip_.SetFileSpec({"*.*"});
        unzip_.SetExtractDir(target_);
        return unzip_.ExtractFiles();
    }

    // The events that tell what happened to each entry.
    std::vector<std::string> Reports() const {
        std::vector<std::string> reports;
        for (const std::string& line : log_.lines)
            if (line.starts_with("Begin") || line.starts_with("End") || line.starts_with("Error"))
                reports.push_back(line);
        return reports;
    }

    // The files below the target, each as name and content.
    std::vector<std::pair<std::string, std::string>> Written() const {
        std::vector<std::pair<std::string, std::string>> files;
        if (!fs::exists(target_)) return files;
        for (const auto& item : fs::recursive_directory_iterator(target_))
            if (item.is_regular_file())
                files.emplace_back(fs::relative(item.path(), target_).string(), ReadFile(item.path().string()));
        std::sort(files.begin(), files.end());
        return files;
    }

    TempFolder folder_{"quendal-damaged"};
    const std::string archive_ = (folder_ / "a.zip").string();
    const std::string target_ = (folder_ / "out").string() + "/";
    TUnZip unzip_;
    EventLog log_{unzip_};
    std::optional<std::vector<std::pair<std::string, std::string>>> atFirstError_;
};

using Files = std::vector<std::pair<std::string, std::string>>;

// The central name is the entry's name: a local header naming another file
// (another code page, a placeholder) is only worth a warning.
TEST_F(DamagedArchive, ALocalHeaderNamingAnotherFileIsWrittenUnderTheListedName) {
    Entry forged{"readme.txt", "#!/bin/sh\necho owned\n"};
    forged.localName = "sub/evil.sh";
    Entry otherSpelling{"dir/same.txt", "same"};
    otherSpelling.localName = "dir\\same.txt";
    Run(BuildZip({forged, otherSpelling}));
    EXPECT_EQ(Reports(), (std::vector<std::string>{"Error 25249 readme.txt sub/evil.sh", "Begin readme.txt 1",
                                                   "End readme.txt pass", "Begin dir/same.txt 2", "End dir/same.txt pass"}));
    EXPECT_EQ(Written(), (Files{{(fs::path("dir") / "same.txt").string(), "same"}, {"readme.txt", "#!/bin/sh\necho owned\n"}}));
}

// Streamed Deflate entries (sizes in a data descriptor, none in the
// directory) whose local headers each sit inside a stored block of the entry
// before, so that every entry decodes one shared kernel at the end. Each
// local header carries its entry's CRC; the directory has no compressed sizes.
std::string SharedKernelArchive(int count, const std::string& kernel) {
    std::vector<std::string> names, headers(count);
    std::vector<uint32_t> crcs(count), sizes(count);
    std::string plain = kernel;  // what the entry whose header comes next decodes
    for (int i = count - 1; i >= 0; --i) {
        names.insert(names.begin(), "f" + std::to_string(i) + ".bin");
        crcs[i] = Crc32Of(plain);
        sizes[i] = static_cast<uint32_t>(plain.size());
        std::string& h = headers[i];
        PutLe32(h, 0x04034B50);
        PutLe16(h, 20);
        PutLe16(h, 0x0008);  // sizes in a data descriptor
        PutLe16(h, 8);
        PutLe32(h, kSampleDosDate);
        PutLe32(h, crcs[i]);
        PutLe32(h, 0);
        PutLe32(h, 0);
        PutLe16(h, static_cast<uint32_t>(names.front().size()));
        PutLe16(h, 0);
        h += names.front();
        plain = h + plain;
    }
    std::string zip;
    for (int i = 0; i < count; ++i) {
        zip += headers[i];
        if (i + 1 < count) {
            // A stored block that is not the last one, holding the next header.
            zip += '\0';
            PutLe16(zip, static_cast<uint32_t>(headers[i + 1].size()));
            PutLe16(zip, static_cast<uint32_t>(~headers[i + 1].size() & 0xFFFF));
        }
    }
    zip += RawDeflate(kernel);
    std::string central;
    uint32_t offset = 0;
    for (int i = 0; i < count; ++i) {
        PutLe32(central, 0x02014B50);
        PutLe16(central, 20);
        PutLe16(central, 20);
        PutLe16(central, 0x0008);
        PutLe16(central, 8);
        PutLe32(central, kSampleDosDate);
        PutLe32(central, crcs[i]);
        PutLe32(central, 0);  // compressed size
        PutLe32(central, sizes[i]);
        PutLe16(central, static_cast<uint32_t>(names[i].size()));
        PutLe32(central, 0);  // extra and comment lengths
        PutLe32(central, 0);  // disk and internal attributes
        PutLe32(central, 0x20);
        PutLe32(central, offset);
        central += names[i];
        offset += static_cast<uint32_t>(headers[i].size() + (i + 1 < count ? 5 : 0));
    }
    const auto directoryAt = static_cast<uint32_t>(zip.size());
    zip += central;
    PutLe32(zip, 0x06054B50);
    PutLe32(zip, 0);
    PutLe16(zip, static_cast<uint32_t>(count));
    PutLe16(zip, static_cast<uint32_t>(count));
    PutLe32(zip, static_cast<uint32_t>(central.size()));
    PutLe32(zip, directoryAt);
    PutLe16(zip, 0);
    return zip;
}

// Streamed data is sized before anything is written: data that does not end
// before the next entry's local header takes that entry's bytes, and only
// the entry the shared bytes belong to is written.
TEST_F(DamagedArchive, StreamedEntriesSharingOneKernelAreRefusedButTheLast) {
    const std::string kernel(1 << 20, '\0');
    Run(SharedKernelArchive(4, kernel));
    EXPECT_EQ(Reports(), (std::vector<std::string>{"Error 25140 f0.bin", "Error 25140 f1.bin", "Error 25140 f2.bin",
                                                   "Begin f3.bin 1", "End f3.bin pass"}));
    const Files written = Written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].first, "f3.bin");
    EXPECT_TRUE(written[0].second == kernel);
}

// Entries whose local header and data take bytes an earlier entry took:
// the earlier one is written, the later ones are refused as corrupt.
TEST_F(DamagedArchive, EntriesSharingOneLocalHeaderAreWrittenOnce) {
    // The same header a thousand times: without the refusal each one would
    // rewrite the same file, at the cost of a round of file-system calls.
    std::vector<Entry> entries;
    for (int i = 0; i < 1000; ++i) {
        entries.emplace_back("same.txt", "0123456789abcdef");
        entries.back().localOffset = 0;
    }
    Run(BuildZip(entries));
    const std::vector<std::string> reports = Reports();
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "Begin same.txt 1"), 1);
    EXPECT_EQ(std::count(reports.begin(), reports.end(), "Error 25140 same.txt"), 999);
    EXPECT_EQ(Written(), (Files{{"same.txt", "0123456789abcdef"}}));
}

TEST_F(DamagedArchive, AnEntryInsideTheDataOfAnotherIsRefused) {
    // The outer entry's data is itself a whole local header with its data,
    // and a second central header points there.
    const std::string inner = BuildZip({{"inner.txt", "payload"}}).substr(0, 30 + 9 + 7);
    Entry pointsInside{"inner.txt", "payload"};
    pointsInside.localOffset = 30 + 9;  // the data of outer.txt
    Run(BuildZip({{"outer.txt", inner}, pointsInside}));
    EXPECT_EQ(Reports(), (std::vector<std::string>{"Begin outer.txt 1", "End outer.txt pass", "Error 25140 inner.txt"}));
    EXPECT_EQ(Written(), (Files{{"outer.txt", inner}}));
}

// Entries whose data does not give what the headers declare fail, with a
// report naming them; what their data did give is kept.
struct BadDataCase {
    const char* name;
    Entry entry;
    std::vector<std::string> reports;
    std::optional<std::string> written;  // the output file when the error is reported, none when it must not exist
};

void PrintTo(const BadDataCase& badData, std::ostream* out) { *out << badData.name; }

Entry WithDeclaredSize(Entry entry, uint32_t size) {
    entry.declaredSize = size;
    return entry;
}

Entry WithPackedData(Entry entry, std::string packed) {
    entry.packedData = std::move(packed);
    return entry;
}

class BadData : public DamagedArchive, public ::testing::WithParamInterface<BadDataCase> {};

TEST_P(BadData, FailsTheEntryWithAReport) {
    Run(BuildZip({GetParam().entry}));
    EXPECT_EQ(Reports(), GetParam().reports);
    const Files expected = GetParam().written ? Files{{GetParam().entry.name, *GetParam().written}} : Files{};
    if (kOutputReadableWhileWritten) {
        EXPECT_EQ(atFirstError_, expected);
    }
    EXPECT_EQ(Written(), Files{});
}

const std::string kText = SampleText(3000);

INSTANTIATE_TEST_SUITE_P(
    Entries, BadData,
    ::testing::Values(
        // A reserved block type at once, declaring the largest size, with the
        // CRC of nothing: an empty output must not pass as the entry.
        BadDataCase{"InvalidBlock",
                    WithDeclaredSize(WithPackedData(Entry{"edge.bin", "", 8}, std::string("\x07\x00\x00\x00", 4)),
                                     0x7FFFFFFF),
                    {"Begin edge.bin 1", "Error 25153 edge.bin", "End edge.bin fail"},
                    ""},
        // The stream runs out of input before it ends: what it gave is written.
        BadDataCase{"NoFinalBlock",
                    WithDeclaredSize(WithPackedData(Entry{"defl.txt", kText, 8}, RawDeflate(kText, 6, Z_SYNC_FLUSH)),
                                     4000),
                    {"Begin defl.txt 1", "Error 25153 defl.txt", "End defl.txt fail"},
                    kText},
        // The data is sound and its CRC right, but it is only part of the entry.
        BadDataCase{"EndsShortOfTheDeclaredSize", WithDeclaredSize(Entry{"short.txt", kText, 8}, 5000),
                    {"Begin short.txt 1", "Error 25176 short.txt", "End short.txt fail"},
                    kText},
        // Copying the declared size would read on into the central directory.
        BadDataCase{"StoredSizesDiffer", WithDeclaredSize(Entry{"small.txt", "0123456789"}, 1000),
                    {"Error 25140 small.txt", "End small.txt fail"},
                    std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// The decoder reads no further than the compressed size: here the stream goes
// on for a few bytes past it, bytes that belong to no entry.
TEST_F(DamagedArchive, DeflateDataIsReadOnlyUpToItsCompressedSize) {
    const std::string packed = RawDeflate(kText);
    std::string zip = BuildZip({{"a.txt", kText, 8}, {"b.txt", "fine"}});
    const auto shortSize = static_cast<uint32_t>(packed.size() - 4);
    std::string size;
    PutLe32(size, shortSize);
    zip.replace(18, 4, size);                             // in the local header
    zip.replace(zip.find("PK\x01\x02") + 20, 4, size);  // in the central header
    Run(zip);
    EXPECT_EQ(Reports(), (std::vector<std::string>{"Begin a.txt 1", "Error 25153 a.txt", "End a.txt fail",
                                                   "Begin b.txt 2", "End b.txt pass"}));
}

// A one-file archive whose end record calls it the last volume of a split set,
// with one stored entry whose data runs past the end of the file.
std::string SplitArchiveEndingInsideItsEntry(uint32_t declaredSize, const std::string& data) {
    const std::string name = "one.txt";
    auto common = [&](std::string& out) {
        PutLe16(out, 20);  // version needed
        PutLe16(out, 0);   // flags
        PutLe16(out, 0);   // stored
        PutLe32(out, kSampleDosDate);
        PutLe32(out, 0);  // CRC
        PutLe32(out, declaredSize);
        PutLe32(out, declaredSize);
        PutLe16(out, static_cast<uint32_t>(name.size()));
        PutLe16(out, 0);  // extra length
    };
    std::string zip;
    PutLe32(zip, 0x04034B50);
    common(zip);
    zip += name + data;

    std::string central;
    PutLe32(central, 0x02014B50);
    PutLe16(central, 20);  // made by
    common(central);
    PutLe16(central, 0);  // comment length
    PutLe16(central, 1);  // the disk of the entry: this one
    PutLe16(central, 0);
    PutLe32(central, 0x20);
    PutLe32(central, 0);  // local header offset
    central += name;

    const auto directoryOffset = static_cast<uint32_t>(zip.size());
    zip += central;
    PutLe32(zip, 0x06054B50);
    PutLe16(zip, 1);  // this disk
    PutLe16(zip, 1);  // the disk of the directory
    PutLe16(zip, 1);
    PutLe16(zip, 1);
    PutLe32(zip, static_cast<uint32_t>(central.size()));
    PutLe32(zip, directoryOffset);
    PutLe16(zip, 0);
    return zip;
}

TEST_F(DamagedArchive, DataRunningPastTheLastVolumeIsNotReadAgainFromItsStart) {
    // A missing volume would be asked for again and again.
    unzip_.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
        if (!exists) cancel = true;
    };
    const std::string zip = SplitArchiveEndingInsideItsEntry(100000, "0123456789");
    WriteFile(archive_, zip);
    unzip_.SetArchiveFile(archive_);
    ASSERT_EQ(unzip_.ArcType(), atZipMV);
    Run(zip);
    const std::vector<std::string> reports = Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1], "Error 25446 one.txt " + frame_test::SlashPath(archive_));
    EXPECT_EQ(reports[2], "End one.txt fail");
    // The file once, from the entry's data on, when the next volume is found missing.
    if (kOutputReadableWhileWritten) {
        EXPECT_EQ(atFirstError_, (Files{{"one.txt", zip.substr(30 + 7)}}));
    }
    EXPECT_EQ(Written(), Files{});
}

}  // namespace
