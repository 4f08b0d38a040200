// Shrunk, reduced and imploded entries inside the extraction run: errors
// reach OnError as raised or reported, output is flushed in the right order,
// truncated and cancelled entries fail their check, and the declared size
// is never exceeded.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/codec/legacy_decoder.h"
#include "archive/unzip.h"
#include "extract_test_support.h"
#include "legacy_fixture_streams.h"
#include "legacy_streams.h"
#include "support/temp_folder.h"

namespace {

using extract_test::Entry;
using extract_test::EventLog;
using Lines = std::vector<std::string>;

// Sets the general-purpose flags of the only entry, in both headers.
void SetFlags(std::string& zip, uint16_t flags) {
    const size_t central = zip.find(std::string("PK\x01\x02", 4));
    for (size_t at : {size_t{6}, central + 8}) {
        zip[at] = static_cast<char>(flags & 0xFF);
        zip[at + 1] = static_cast<char>(flags >> 8);
    }
}

class LegacyRun : public ::testing::Test {
protected:
    // Extracts one entry of the given method whose correct bytes are plain.
    void Run(int method, const std::string& packed, const std::string& plain, uint16_t flags = 0,
             int cancelAtProgress = 0) {
        Entry entry("e.bin", plain, static_cast<uint16_t>(method));
        entry.packedData = packed;
        std::string zip = extract_test::BuildZip({entry});
        SetFlags(zip, flags);
        frame_test::WriteFile((folder_ / "a.zip").string(), zip);
        TUnZip unzip;
        EventLog log(unzip);
        log.folder = target_;
        log.cancelAtProgress = cancelAtProgress;
        // What a failed entry's file holds is taken at every event before its end.
        written_.clear();
        auto watch = [this] { written_ = frame_test::ReadFile(target_ + "e.bin"); };
        unzip.OnProgress = [watch, progress = unzip.OnProgress](TObject* sender, uint8_t file, uint8_t archive) {
            progress(sender, file, archive);
            watch();
        };
        unzip.OnError = [watch, report = unzip.OnError](TObject* sender, const std::string& f, const std::string& e,
                                                        const std::string& v, int32_t code) {
            report(sender, f, e, v, code);
            watch();
        };
        unzip.SetArchiveFile((folder_ / "a.zip").string());
        unzip.SetFileSpec({"*"});
        unzip.SetExtractDir(target_);
        unzip.ExtractFiles();
        archiveFile_ = unzip.ArchiveFile();  // as the component names it in reports
        lines_ = log.lines;
        if (lines_.end()[-2].ends_with("pass")) written_ = frame_test::ReadFile(target_ + "e.bin");
    }

    TempFolder folder_{"quendal-legacy-run"};
    std::string target_ = (folder_ / "out").string() + "/";
    std::string archiveFile_;
    Lines lines_;
    std::string written_;  // the entry's file: as it stands after a passing entry, before the end of a failed one
};

TEST_F(LegacyRun, ErrorsEndTheEntryAndTheCheckFails) {
    struct Case {
        const char* what;
        int method;
        std::string packed;
        std::string plain;  // what the entry should have held
        Lines events;
        std::string written;
    };
    legacy_test::BitWriter sameCode;
    legacy_test::PutTree(sameCode, {{3, 1}});
    legacy_test::PutTree(sameCode, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});
    const std::vector<Case> cases = {
        // The output is flushed before the report.
        {"stack overflow", 1, legacy_test::ShrinkCodes({'a', 'b', 257, 256, 2, 'c', 257}), "ababcd",
         {"Activate", "Begin e.bin 1", "Progress 83 83", "Error 25299 e.bin", "End e.bin fail", "Deactivate"},
         "ababc"},
        // Here the report comes first, then the flush.
        {"bad block", 1, legacy_test::ShrinkCodes({'a', 'b', 256, 7}), "abc",
         {"Activate", "Begin e.bin 1", "Error 25116 e.bin", "Progress 67 67", "End e.bin fail", "Deactivate"},
         "ab"},
        {"ambiguous tree", 6, sameCode.Bytes(), "x",
         {"Activate", "Begin e.bin 1", "Error 25293 e.bin", "End e.bin fail", "Deactivate"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(c.method, c.packed, c.plain);
        EXPECT_EQ(lines_, c.events);
        if (extract_test::kOutputReadableWhileWritten) {
            EXPECT_EQ(written_, c.written);
        }
    }
}

TEST_F(LegacyRun, ExtractsAndChecksEveryMethod) {
    const legacy_test::FixtureStreams fixture = legacy_test::ManyFormatsStreams();
    ASSERT_EQ(fixture.streams.size(), 6u);
    for (const auto& stream : fixture.streams) {
        SCOPED_TRACE(stream.method);
        Run(stream.method, stream.packed, fixture.plain, stream.flags);
        EXPECT_TRUE(written_ == fixture.plain);
        EXPECT_EQ(lines_.end()[-2], "End e.bin pass");
    }
}

TEST_F(LegacyRun, TruncatedEntriesFailTheirCheck) {
    const legacy_test::FixtureStreams fixture = legacy_test::ManyFormatsStreams();
    for (const auto& stream : fixture.streams) {
        SCOPED_TRACE(stream.method);
        Run(stream.method, stream.packed.substr(0, stream.packed.size() / 2), fixture.plain, stream.flags);
        EXPECT_EQ(lines_.end()[-2], "End e.bin fail");
        if (!extract_test::kOutputReadableWhileWritten) continue;
        EXPECT_GT(written_.size(), 0u);
        EXPECT_LT(written_.size(), fixture.plain.size());
        // What was decoded before the data ran out is right.
        const size_t half = written_.size() / 2;
        EXPECT_TRUE(written_.substr(0, half) == fixture.plain.substr(0, half));
    }
}

TEST_F(LegacyRun, CancelStopsTheDecoderAfterTheCurrentBlock) {
    const legacy_test::FixtureStreams fixture = legacy_test::ManyFormatsStreams();
    for (const auto& stream : fixture.streams) {
        SCOPED_TRACE(stream.method);
        Run(stream.method, stream.packed, fixture.plain, stream.flags, 1);
        EXPECT_EQ(lines_, (Lines{"Activate", "Begin e.bin 1", "Progress 40 40",
                                 "Error 25443 " + frame_test::SlashPath(archiveFile_) + " e.bin",
                                 "End e.bin fail", "Deactivate"}));
        if (extract_test::kOutputReadableWhileWritten) {
            EXPECT_EQ(written_.size(), 32768u);
        }
    }
}

// Whatever the data says, no more than the declared size is put.
TEST(LegacyLimit, NoDecoderPutsMoreThanDeclared) {
    const legacy_test::FixtureStreams fixture = legacy_test::ManyFormatsStreams();
    for (const auto& stream : fixture.streams) {
        for (uint64_t declared : {uint64_t{0}, uint64_t{1}, uint64_t{40000}}) {
            SCOPED_TRACE(std::to_string(stream.method) + " " + std::to_string(declared));
            std::vector<uint8_t> out;
            const LegacyResult result =
                DecodeLegacyBuffer(static_cast<uint32_t>(stream.method), stream.flags,
                                   reinterpret_cast<const uint8_t*>(stream.packed.data()), stream.packed.size(),
                                   declared, out);
            EXPECT_EQ(result.fault, LegacyFault::None);
            EXPECT_TRUE(std::string(out.begin(), out.end()) == fixture.plain.substr(0, declared));
        }
    }
}

}  // namespace
