// The pipeline on archives made by real tools: enciphered entries, split
// archives whose Deflate data breaks across volumes, hostile directories;
// and the byte-wise output buffer of the legacy decoders.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/refused_passwords.h"
#include "archive/reader/file_stream32.h"
#include "archive/unzip.h"
#include "extract_test_support.h"
#include "frame_test_support.h"
#include "tool_made_fixtures.h"
#include "support/temp_folder.h"

using namespace extract_test;
using frame_test::ReadFile;
using frame_test::SampleText;
using frame_test::SlashPath;
using frame_test::WriteFile;
namespace fs = std::filesystem;

namespace {

class ExtractPipeline : public ExtractFixture {
protected:
    // Runs over an archive of the test's folder.
    int32_t Run(const std::string& archive) { return RunArchive(dir_ + archive); }
};

TEST_F(ExtractPipeline, EncipheredStoredAndDeflatedEntriesNeedTheRightPassword) {
    // zip -P s3cret over deflated.txt, then zip -0 -P s3cret over stored.txt, both SampleText(70000).
    const std::string text = SampleText(70000);
    CopyToolMade("enciphered.zip", dir_ + "p.zip");
    ASSERT_TRUE(PasswordsRefusedByEveryEntry(dir_ + "p.zip", {"wrong"}));

    unzip_.SetPasswords({"wrong"});
    EXPECT_EQ(Run("p.zip"), 0);
    EXPECT_EQ(log_.lines, (std::vector<std::string>{
                              "Activate", "Begin deflated.txt 1", "Error 25270 deflated.txt OnGetPassword",
                              "Progress 100 50", "End deflated.txt fail", "Begin stored.txt 1", "Progress 100 100",
                              "End stored.txt fail", "Deactivate"}));
    EXPECT_FALSE(fs::exists(target_ + "deflated.txt"));

    log_.lines.clear();
    unzip_.SetPasswords({"wrong", "s3cret"});
    EXPECT_EQ(Run("p.zip"), 2);
    EXPECT_EQ(ReadFile(target_ + "deflated.txt"), text);
    EXPECT_EQ(ReadFile(target_ + "stored.txt"), text);
    EXPECT_EQ(std::count(log_.lines.begin(), log_.lines.end(), "End stored.txt pass"), 1);
}

TEST_F(ExtractPipeline, DeflateEntryContinuesOnTheNextVolumeOfASplitArchive) {
    // zip -s 64k over first.txt and long.txt, hexadecimal noise that deflates to
    // about half, so the entry spans several 64 KiB volumes.
    std::string text;
    uint32_t state = 7;
    while (text.size() < 300000) {
        state = state * 1103515245u + 12345u;
        text += "0123456789abcdef"[(state >> 16) & 15];
    }
    CopyToolMade("split-deflate-volumes", dir_);
    ASSERT_TRUE(fs::exists(dir_ + "split.z01"));

    std::vector<std::string> asked;
    unzip_.OnNextVolume = [&](TObject*, std::string& name, const std::string& id, bool exists, bool&) {
        asked.push_back(fs::path(name).filename().string() + " " + id + (exists ? " exists" : ""));
    };
    EXPECT_EQ(unzip_.ArcType(), atNA);  // nothing assigned yet
    EXPECT_EQ(Run("split.zip"), 2);
    EXPECT_EQ(unzip_.ArcType(), atZipMV);
    EXPECT_EQ(ReadFile(target_ + "first.txt"), "first entry");
    EXPECT_EQ(ReadFile(target_ + "long.txt"), text);
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ(asked[0], "split.z01 1 exists");
    EXPECT_EQ(asked[1], "split.z02 2 exists");
    EXPECT_EQ(std::count(log_.lines.begin(), log_.lines.end(), "End long.txt pass"), 1);
    EXPECT_EQ(unzip_.ArchiveFile(), dir_ + "split.zip");
}

TEST_F(ExtractPipeline, SplitArchiveWithoutVolumeHandlerIsCancelled) {
    CopyToolMade("split-stored-volumes", dir_);  // zip -0 -s 64k over SampleText(200000)
    EXPECT_EQ(Run("split.zip"), 0);
    ASSERT_GE(log_.lines.size(), 3u);
    EXPECT_EQ(log_.lines[1], "Error 25443 " + SlashPath(dir_) + "split.zip");
    EXPECT_EQ(log_.lines.back(), "Deactivate");
    EXPECT_FALSE(fs::exists(target_ + "long.txt"));
}

TEST_F(ExtractPipeline, DirectoryPointingBackIntoItselfEndsWithoutHarm) {
    // The entry's local-header offset names the central directory itself.
    std::string zip = BuildZip({{"a.txt", "aaaa"}, {"b.txt", "bbbb"}});
    const size_t central = zip.find("PK\x01\x02");
    const size_t second = zip.find("PK\x01\x02", central + 4);
    const auto offset = static_cast<uint32_t>(central);
    for (int i = 0; i < 4; ++i) zip[second + 42 + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
    WriteFile(dir_ + "loop.zip", zip);
    EXPECT_EQ(Run("loop.zip"), 1);
    EXPECT_EQ(log_.lines, (std::vector<std::string>{"Activate", "Error 25114 b.txt", "Begin a.txt 1",
                                                    "Progress 100 100", "End a.txt pass", "Deactivate"}));
    EXPECT_EQ(ReadFile(target_ + "a.txt"), "aaaa");
}

// Stands in for a byte-wise decoder: puts bytes and flushes like one.
class ByteWiseUnZip : public TUnZip {
public:
    void Decode(TStream32& output, uint64_t declaredSize, size_t bytesPut) {
        entryDescriptor_ = {0, 1, declaredSize, declaredSize};
        entryOutput_ = {};
        entryOutput_.target = &output;
        entryOutput_.entryBytesLeft = declaredSize;
        unpackedTotal_ = declaredSize;
        bytesRemaining_ = static_cast<int64_t>(declaredSize);
        runningCrc_ = 0xFFFFFFFF;
        for (size_t i = 0; i < bytesPut; ++i) PutByte(static_cast<uint8_t>(i * 7));
        FlushOutput();
    }
};

TEST(ExtractOutputBuffer, FlushesEveryFullBufferAndStopsAtTheDeclaredSize) {
    const TempFolder scratch;
    const std::string dir = scratch.str() + "/";
    ByteWiseUnZip unzip;
    std::vector<std::pair<int, int>> progress;
    unzip.OnProgress = [&](TObject*, uint8_t file, uint8_t archive) { progress.emplace_back(file, archive); };
    {
        TFileStream32 out(dir + "o.bin", fmCreate);
        unzip.Decode(out, 40000, 50000);
    }
    const std::string written = ReadFile(dir + "o.bin");
    ASSERT_EQ(written.size(), 40000u);
    std::string expected(40000, '\0');
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<char>(static_cast<uint8_t>(i * 7));
    EXPECT_EQ(written, expected);
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{82, 82}, {100, 100}}));
    EXPECT_EQ(unzip.RunningCrc() ^ 0xFFFFFFFF, Crc32Of(expected));
}

}  // namespace
