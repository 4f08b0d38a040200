#include "release/fetched_entries_archive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "platform/file.h"
#include "release/entry_name.h"
#include "release/local_entry_extent.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

using release::ManifestEntry;
using release::ReleaseManifest;
using release::TFetchedEntry;
using test_files::ReadAll;
using test_files::WriteFile;

namespace {

std::string Repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// What tests/fixtures/differential/make.sh zipped.
const std::map<std::string, std::string>& Originals() {
    static const std::map<std::string, std::string> originals = {
        {"a.txt", Repeated("alpha ", 2000)},  {"big.bin", Repeated("0123456789", 7000)},
        {"c.exe", "MZ stand-in c"},           {"empty.txt", ""},
        {"sub/d.txt", Repeated("delta\n", 500)}, {"-", "streamed notes"}};
    return originals;
}

fs::path Fixture(const std::string& name) { return fs::path(QUENDAL_TEST_FIXTURES) / "differential" / name; }

// The manifest's archive length and entries as the publisher computes them:
// TUnZip's listing and each entry's local extent. Folders are not listed.
// The names are as stored: the listing's own use Windows separators there.
ReleaseManifest ManifestOf(const fs::path& archive) {
    ReleaseManifest manifest{"Quendal", *release::ReleaseVersion::Parse("1.0"), release::UtcTime::FromUnixSeconds(0),
                             release::UtcTime::FromUnixSeconds(0), {"Quendal.zip", fs::file_size(archive), {}}, {}};
    TUnZip unzip;
    unzip.SetArchiveFile(archive.string());
    unzip.FileSpec() = {"*"};
    platform::File file;
    EXPECT_TRUE(file.Open(archive.string(), platform::File::Mode::Read));
    for (const TUnBaseHeader& entry : unzip.ListEntries()) {
        if (entry.RawName.ends_with('/')) continue;
        const auto length = release::LocalEntryLength(file, entry.Record.LocalPosition, entry.PackedSize);
        EXPECT_TRUE(length) << entry.RawName;
        manifest.entries.push_back({entry.RawName, entry.UnpackedSize, entry.Crc32, {},
                                    static_cast<uint64_t>(entry.Record.LocalPosition), length.value_or(0)});
    }
    return manifest;
}

// Extracts every entry with TUnZip; the first error, empty when all came out
// with their CRC passed.
std::string ExtractAll(const fs::path& archive, const fs::path& folder) {
    TUnZip unzip;
    std::string error;
    unzip.OnError = [&](TObject*, const std::string& file, const std::string& extended, const std::string&,
                        int32_t code) {
        if (error.empty()) error = file + ": error " + std::to_string(code) + " " + extended;
    };
    unzip.OnCorruptZipHeader = [&](TObject*, THeaderTypeState, bool& cancel) {
        if (error.empty()) error = "damaged directory";
        cancel = true;
    };
    unzip.OnEnd = [&](TObject*, const std::string& file, bool crcPass) {
        if (!crcPass && error.empty()) error = file + ": CRC mismatch";
    };
    unzip.SetArchiveFile(archive.string());
    unzip.FileSpec() = {"*"};
    unzip.SetUseStoredDirs(true);
    unzip.SetExtractDir(folder.string() + static_cast<char>(fs::path::preferred_separator));
    unzip.ExtractFiles();
    return error;
}

std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file())
            files[item.path().lexically_relative(folder).generic_string()] = ReadAll(item.path());
    return files;
}

// The bytes of the plan's ranges, one after the other, as a server sends them.
std::string FetchedBytes(const std::string& archive, const release::TDifferentialPlan& plan) {
    std::string fetched;
    for (const release::TArchiveRange& range : plan.ranges)
        fetched += archive.substr(range.first, range.last - range.first + 1);
    return fetched;
}

release::TDifferentialPlan PlanFetching(const ReleaseManifest& manifest, const std::set<std::string>& changed) {
    return release::PlanDifferentialUpdate(manifest,
                                           [&](const ManifestEntry& entry) { return changed.count(entry.name) == 0; });
}

struct FetchCase {
    const char* name;
    const char* archive;
    std::set<std::string> changed;
    size_t ranges;
};

void PrintTo(const FetchCase& c, std::ostream* os) { *os << c.name; }

class FetchedEntriesArchive : public testing::TestWithParam<FetchCase> {
protected:
    TempFolder temp_{"quendal-fetched-entries"};
};

TEST_P(FetchedEntriesArchive, ExtractsToTheChangedFilesAlone) {
    const FetchCase& c = GetParam();
    const ReleaseManifest manifest = ManifestOf(Fixture(c.archive));
    const release::TDifferentialPlan plan = PlanFetching(manifest, c.changed);
    ASSERT_EQ(plan.fallback, "");
    ASSERT_EQ(plan.ranges.size(), c.ranges);
    const fs::path fetched = temp_ / "fetched.zip";
    WriteFile(fetched, FetchedBytes(ReadAll(Fixture(c.archive)), plan));

    ASSERT_EQ(release::CompleteFetchedEntriesArchive(fetched.string(), manifest, plan.entries), "");
    ASSERT_EQ(ExtractAll(fetched, temp_ / "out"), "");
    std::map<std::string, std::string> expected;
    for (const std::string& name : c.changed) expected[name] = Originals().at(name);
    EXPECT_EQ(FilesBelow(temp_ / "out"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FetchedEntriesArchive,
    testing::Values(
        // big.bin lies between a.txt and c.exe: more than 64 KiB, so two ranges.
        FetchCase{"TwoRangesAroundALargeEntry", "plain.zip", {"a.txt", "c.exe"}, 2},
        // empty.txt and the folder sub/ lie between c.exe and sub/d.txt: fetched, not named.
        FetchCase{"UnchangedEntryInAMergedRange", "plain.zip", {"c.exe", "sub/d.txt"}, 1},
        FetchCase{"EmptyFile", "plain.zip", {"empty.txt"}, 1},
        FetchCase{"DescriptorsTwoRanges", "streamed.zip", {"a.txt", "c.exe"}, 2},
        FetchCase{"DescriptorsMergedWithZip64Descriptor", "streamed.zip", {"c.exe", "sub/d.txt", "-"}, 1},
        FetchCase{"DescriptorEmptyFile", "streamed.zip", {"empty.txt"}, 1}),
    [](const testing::TestParamInfo<FetchCase>& info) { return std::string(info.param.name); });

// A header whose sizes are 0xFFFFFFFF has them in its zip64 block; the
// directory gets the real ones.
TEST(FetchedEntriesArchiveZip64, TakesTheSizesFromTheLocalZip64Block) {
    TempFolder temp("quendal-fetched-entries");
    const fs::path archive = fs::path(QUENDAL_TEST_FIXTURES) / "tool-made" / "zip64-python.zip";
    const ReleaseManifest manifest = ManifestOf(archive);
    ASSERT_EQ(manifest.entries.size(), 1u);
    const ManifestEntry& entry = manifest.entries[0];
    WriteFile(temp / "fetched.zip", ReadAll(archive).substr(entry.offset, entry.length));

    ASSERT_EQ(release::CompleteFetchedEntriesArchive((temp / "fetched.zip").string(), manifest, {{0, 0}}), "");
    ASSERT_EQ(ExtractAll(temp / "fetched.zip", temp / "out"), "");
    EXPECT_EQ(FilesBelow(temp / "out"), (std::map<std::string, std::string>{{"huge.bin", std::string(1000, 'q')}}));
}

// Something other than what was asked for: the fetched bytes, the manifest or
// the entry list changed after a plan for c.exe and sub/d.txt (one range,
// empty.txt and the folder sub/ inside it).
struct Damage {
    const char* name;
    std::function<void(const std::string& archive, const ReleaseManifest& original, std::string& fetched,
                       ReleaseManifest& manifest, std::vector<TFetchedEntry>& entries)>
        apply;
    const char* entry;  // the entry the error names
    const char* says;   // the cause it gives
};

void PrintTo(const Damage& c, std::ostream* os) { *os << c.name; }

const ManifestEntry& Named(const ReleaseManifest& manifest, const std::string& name) {
    for (const ManifestEntry& entry : manifest.entries)
        if (entry.name == name) return entry;
    throw std::runtime_error("no entry " + name);
}

ManifestEntry& Named(ReleaseManifest& manifest, const std::string& name) {
    return const_cast<ManifestEntry&>(Named(std::as_const(manifest), name));
}

class FetchedEntriesArchiveRefuses : public testing::TestWithParam<std::tuple<const char*, Damage>> {
protected:
    TempFolder temp_{"quendal-fetched-entries"};
};

TEST_P(FetchedEntriesArchiveRefuses, NamingTheEntryAndWritingNothing) {
    const auto& [archiveName, damage] = GetParam();
    const std::string archive = ReadAll(Fixture(archiveName));
    const ReleaseManifest original = ManifestOf(Fixture(archiveName));
    const release::TDifferentialPlan plan = PlanFetching(original, {"c.exe", "sub/d.txt"});
    ASSERT_EQ(plan.fallback, "");
    std::string fetchedBytes = FetchedBytes(archive, plan);
    ReleaseManifest manifest = original;
    std::vector<TFetchedEntry> entries = plan.entries;
    damage.apply(archive, original, fetchedBytes, manifest, entries);
    const fs::path fetched = temp_ / "fetched.zip";
    WriteFile(fetched, fetchedBytes);

    const std::string error = release::CompleteFetchedEntriesArchive(fetched.string(), manifest, entries);
    EXPECT_EQ(error.rfind("entry " + release::QuotedEntryName(damage.entry) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(damage.says), std::string::npos) << error;
    EXPECT_EQ(ReadAll(fetched), fetchedBytes);
}

const Damage kDamages[] = {
    {"ShiftedByOne",
     [](const std::string& archive, const ReleaseManifest& original, std::string& fetched, ReleaseManifest&,
        std::vector<TFetchedEntry>&) {
         fetched = archive.substr(Named(original, "c.exe").offset + 1, fetched.size());
     },
     "c.exe", "no local header"},
    {"AnotherEntrysBytes",
     [](const std::string& archive, const ReleaseManifest& original, std::string& fetched, ReleaseManifest&,
        std::vector<TFetchedEntry>&) { fetched = archive.substr(Named(original, "a.txt").offset, fetched.size()); },
     "c.exe", "local header names \"a.txt\""},
    {"NameDiffers",
     [](const std::string&, const ReleaseManifest&, std::string& fetched, ReleaseManifest&,
        std::vector<TFetchedEntry>& entries) { fetched[entries[1].position + 30 + 4] = 'e'; },  // sub/e.txt
     "sub/d.txt", "local header names \"sub/e.txt\""},
    {"CrcDiffers",
     [](const std::string&, const ReleaseManifest&, std::string&, ReleaseManifest& manifest,
        std::vector<TFetchedEntry>&) { Named(manifest, "sub/d.txt").crc32 ^= 1; },
     "sub/d.txt", "CRC-32"},
    {"LengthOneMore",
     [](const std::string&, const ReleaseManifest&, std::string&, ReleaseManifest& manifest,
        std::vector<TFetchedEntry>&) { ++Named(manifest, "c.exe").length; },
     "c.exe", "the manifest's length"},
    {"LengthOneLess",
     [](const std::string&, const ReleaseManifest&, std::string&, ReleaseManifest& manifest,
        std::vector<TFetchedEntry>&) { --Named(manifest, "c.exe").length; },
     "c.exe", "the manifest's length"},
    {"Truncated",
     [](const std::string&, const ReleaseManifest&, std::string& fetched, ReleaseManifest&,
        std::vector<TFetchedEntry>&) { fetched.pop_back(); },
     "sub/d.txt", "ends before"},
    {"PositionPastTheEnd",
     [](const std::string&, const ReleaseManifest&, std::string& fetched, ReleaseManifest&,
        std::vector<TFetchedEntry>& entries) { entries[1].position = fetched.size() + 1000; },
     "sub/d.txt", "ends before"},
    {"SizeBeyond32Bits",
     [](const std::string&, const ReleaseManifest&, std::string&, ReleaseManifest& manifest,
        std::vector<TFetchedEntry>&) { Named(manifest, "c.exe").size = uint64_t{1} << 32; },
     "c.exe", "does not fit"},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, FetchedEntriesArchiveRefuses,
                         testing::Combine(testing::Values("plain.zip", "streamed.zip"), testing::ValuesIn(kDamages)),
                         [](const auto& info) {
                             return std::string(fs::path(std::get<0>(info.param)).stem().string()) + "_" +
                                    std::get<1>(info.param).name;
                         });

TEST(FetchedEntriesArchiveRefusesList, AnEntryTheManifestDoesNotHave) {
    TempFolder temp("quendal-fetched-entries");
    const ReleaseManifest manifest = ManifestOf(Fixture("plain.zip"));
    WriteFile(temp / "fetched.zip", ReadAll(Fixture("plain.zip")));
    const std::string error = release::CompleteFetchedEntriesArchive((temp / "fetched.zip").string(), manifest,
                                                                     {{manifest.entries.size(), 0}});
    EXPECT_NE(error.find("not in the manifest"), std::string::npos) << error;
}

// With no directory entry, an extractor would walk the local headers the
// server sent and extract whatever they name.
TEST(FetchedEntriesArchiveRefusesList, NoEntries) {
    TempFolder temp("quendal-fetched-entries");
    WriteFile(temp / "fetched.zip", ReadAll(Fixture("plain.zip")));
    const std::string error = release::CompleteFetchedEntriesArchive((temp / "fetched.zip").string(),
                                                                     ManifestOf(Fixture("plain.zip")), {});
    EXPECT_EQ(error, "no entries were fetched");
    EXPECT_EQ(ReadAll(temp / "fetched.zip"), ReadAll(Fixture("plain.zip")));
}

}  // namespace
