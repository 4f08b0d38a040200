#include "archive/reader/archive_detection.h"
#include "archive/reader/file_stream32.h"
#include "archive/reader/zip_directory_walk.h"

#include "archive/detection_test_files.h"
#include "archive/tool_made_fixtures.h"
#include "support/windows_skip.h"
#include "platform/pe_image_builder.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using detection_test::Python;
using detection_test::ReadBytes;
using detection_test::TempFolder;
using detection_test::WriteBytes;

using State = THeaderTypeState;

// The entries of plain.zip, seven.zip and the self-extractors, in the system's separators.
std::vector<std::string> PlainNames() { return {"a.txt", detection_test::NativePath("sub/b.txt")}; }

struct Detected {
    TArcType type = atNA;
    ArchiveFactsStore store;
    ArchiveFacts facts = store.Facts();
    int spannedChecks = 0;
};

// Detection on its own, with a drive that always answers "split".
void Detect(const std::string& path, Detected& result) {
    TFileStream32 file(path, fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(file.Handle(), 0) << path;
    ByteSource source(file);
    ArchiveDetector detector(source, path, result.facts, [&] {
        ++result.spannedChecks;
        return atZipMV;
    });
    result.type = detector.DetectArcType();
}

TArcType TypeOf(const std::string& path) {
    Detected detected;
    Detect(path, detected);
    return detected.type;
}

struct Listing {
    std::vector<std::string> names;
    std::vector<std::string> badHeaders;
    ZipWalkTotals totals;
    std::vector<TUnBaseHeader> entries;
};

Listing Walk(const std::string& path, Detected& detected) {
    Listing listing;
    TFileStream32 file(path, fmOpenRead | fmShareDenyWrite);
    ByteSource source(file);
    ZipWalkHooks hooks;
    hooks.SelectEntry = [](const std::string&) { return true; };
    hooks.ReportBadHeader = [&](const std::string& name) { listing.badHeaders.push_back(name); };
    TUnBaseHeaderObj entries;
    ZipDirectoryWalk walk(source, detected.facts, hooks, entries, listing.totals);
    if (detected.facts.HeaderState == State{htLocal})
        walk.ReadLocalHeaders();
    else
        walk.ReadCentralDirectory();
    listing.entries.assign(entries.begin(), entries.end());
    for (const TUnBaseHeader& entry : listing.entries) listing.names.push_back(entry.Name);
    return listing;
}

class Detection : public ::testing::Test {
protected:
    void SetUp() override {
        CopyToolMade("plain.zip", folder / "plain.zip");
    }
    TempFolder folder;
};

TEST_F(Detection, AnOrdinaryZipAndTheSameNamedJar) {
    const std::string archive = ReadBytes(folder / "plain.zip");
    Detected zip;
    Detect(folder / "plain.zip", zip);
    EXPECT_EQ(zip.type, atZip);
    EXPECT_EQ(zip.facts.HeaderState, (State{htLocal, htCentral, htEnding}));
    EXPECT_EQ(zip.facts.ArchiveOffset, detection_test::StoredDirectoryOffset(archive));
    EXPECT_EQ(zip.facts.OffsetAdjust, 0);
    EXPECT_EQ(zip.facts.ArchiveSize, static_cast<int64_t>(archive.size()));
    EXPECT_EQ(zip.facts.CommentStart, static_cast<int64_t>(archive.size()));
    EXPECT_NE(zip.facts.ArchiveDate, 0x00210020u);
    EXPECT_EQ(Walk(folder / "plain.zip", zip).names, PlainNames());

    CopyToolMade("plain.zip", folder / "Plain.JAR");
    EXPECT_EQ(TypeOf(folder / "Plain.JAR"), atJar);
}

TEST_F(Detection, PrependedBytesWithoutAdjustedOffsetsAreAccountedFor) {
    WriteBytes(folder / "shifted.zip", std::string(300, '\0') + ReadBytes(folder / "plain.zip"));
    Detected shifted;
    Detect(folder / "shifted.zip", shifted);
    EXPECT_EQ(shifted.type, atZip);
    EXPECT_EQ(shifted.facts.HeaderState, (State{htLocal, htCentral, htEnding}));
    EXPECT_EQ(shifted.facts.OffsetAdjust, 300);
    EXPECT_EQ(shifted.facts.ArchiveOffset, detection_test::StoredDirectoryOffset(ReadBytes(folder / "plain.zip")) + 300);
    Listing listing = Walk(folder / "shifted.zip", shifted);
    EXPECT_EQ(listing.names, PlainNames());
    EXPECT_TRUE(listing.badHeaders.empty());
}

// The end record is found wherever a comment can leave it: up to 65,535 bytes
// before the end of the file.
TEST_F(Detection, AnEndRecordBehindTheLongestCommentIsFound) {
    for (const int commentSize : {40000, 65535}) {
        SCOPED_TRACE(commentSize);
        const std::string archive = ToolMade("comment-" + std::to_string(commentSize) + ".zip");
        Detected detected;
        Detect(archive, detected);
        EXPECT_EQ(detected.type, atZip);
        EXPECT_EQ(detected.facts.HeaderState, (State{htLocal, htCentral, htEnding}));
        EXPECT_EQ(detected.facts.CommentStart, static_cast<int64_t>(ReadBytes(archive).size()) - commentSize);
        EXPECT_EQ(Walk(archive, detected).names, (std::vector<std::string>{"one.txt", "two.txt"}));
    }
}

TEST_F(Detection, WithoutAnEndRecordTheLocalWalkTakesOver) {
    const std::string plain = ReadBytes(folder / "plain.zip");
    WriteBytes(folder / "cut.zip", plain.substr(0, plain.size() - 22));
    Detected detected;
    Detect(folder / "cut.zip", detected);
    EXPECT_EQ(detected.type, atZip);
    EXPECT_EQ(detected.facts.HeaderState, State{htLocal});
    EXPECT_EQ(detected.facts.ArchiveOffset, 0);
    EXPECT_EQ(Walk(folder / "cut.zip", detected).names, PlainNames());
}

TEST_F(Detection, TinyFilesAndTheEmptyZip) {
    ASSERT_EQ(ReadBytes(ToolMade("empty.zip")).size(), 22u);
    Detected empty;
    Detect(ToolMade("empty.zip"), empty);
    EXPECT_EQ(empty.type, atZip);
    EXPECT_TRUE(empty.facts.HeaderState.Contains(htEnding));
    EXPECT_TRUE(Walk(ToolMade("empty.zip"), empty).names.empty());

    WriteBytes(folder / "nineteen.zip", ReadBytes(folder / "plain.zip").substr(0, 19));
    EXPECT_EQ(TypeOf(folder / "nineteen.zip"), atNA);
    WriteBytes(folder / "nothing.bin", "");
    EXPECT_EQ(TypeOf(folder / "nothing.bin"), atNA);
}

TEST_F(Detection, Zip64RecordsLocateTheDirectory) {
    Detected detected;
    Detect(ToolMade("zip64-records.zip"), detected);
    EXPECT_EQ(detected.type, atZip);
    // The first local offset lives in the zip64 extra field, which the search
    // does not read: no htLocal, and the central walk runs.
    EXPECT_EQ(detected.facts.HeaderState, (State{htCentral, htEnding, htLocator, htEnding64}));
    Listing listing = Walk(ToolMade("zip64-records.zip"), detected);
    ASSERT_EQ(listing.names, (std::vector<std::string>{"big.txt", "next.txt"}));
    EXPECT_EQ(listing.entries[0].Record.LocalPosition, 0);
    EXPECT_TRUE(listing.badHeaders.empty());
}

TEST_F(Detection, Zip64RecordsOfPythonCountMoreEntriesThanSixteenBitsHold) {
    SKIP_ON_WINDOWS("its archive of 65,536 entries is made at run time by Python, which a Windows test program "
                    "cannot start here, and at 5.6 MB it is too large to keep as a fixture");
    ASSERT_EQ(Python(folder, "z = zipfile.ZipFile('many.zip', 'w')\n"
                             "for i in range(65536): z.writestr('%05d' % i, '')\nz.close()\n"),
              0);
    Detected many;
    Detect(folder / "many.zip", many);
    EXPECT_EQ(many.facts.HeaderState, (State{htLocal, htCentral, htEnding, htLocator, htEnding64}));
    EXPECT_EQ(Walk(folder / "many.zip", many).names.size(), 65536u);
}

TEST_F(Detection, TheTwentySixByteEndRecordNamesTheDirectoryPosition) {
    Detected detected;
    Detect(ToolMade("end26.zip"), detected);
    EXPECT_EQ(detected.type, atZip);
    EXPECT_EQ(detected.facts.CommentStart, static_cast<int64_t>(ReadBytes(ToolMade("end26.zip")).size()));
    EXPECT_EQ(Walk(ToolMade("end26.zip"), detected).names, (std::vector<std::string>{"x.txt", "y.txt"}));

    // Zip64 records before a wide end record are noted; its own position still names the directory.
    Detected behind64;
    Detect(ToolMade("end26-after-zip64.zip"), behind64);
    EXPECT_EQ(behind64.facts.HeaderState, (State{htLocal, htCentral, htEnding, htLocator, htEnding64}));
    EXPECT_EQ(Walk(ToolMade("end26-after-zip64.zip"), behind64).names, std::vector<std::string>{"x.txt"});
}

// A self-extractor: our own tiny executable image in front of a ZIP.
class SelfExtractor : public Detection {
protected:
    std::string Stub(const std::map<uint16_t, std::string>& strings = {}, size_t size = 0) {
        std::vector<uint8_t> image = testing_pe::BuildImage(strings, size);
        return std::string(image.begin(), image.end());
    }
};

// The self-extractors whose offsets zip -A adjusted hold this stub.
TEST_F(SelfExtractor, AStubWithAdjustedOffsets) {
    const std::string sfx = ToolMade("sfx.exe");
    ASSERT_EQ(ReadBytes(sfx).substr(0, Stub().size()), Stub());
    Detected detected;
    Detect(sfx, detected);
    EXPECT_EQ(detected.type, atZipExe);
    EXPECT_EQ(detected.facts.HeaderState, (State{htLocal, htCentral, htEnding}));
    Listing listing = Walk(sfx, detected);
    EXPECT_EQ(listing.names, PlainNames());
    EXPECT_EQ(listing.entries[0].Record.LocalPosition, static_cast<int64_t>(Stub().size()));
}

TEST_F(SelfExtractor, ArchivesAtTheFixedProbeOffsetsAreWalkedByLocalHeaders) {
    for (size_t offset : {size_t{7612}, size_t{25661}}) {
        const std::string fixed = ToolMade("fixed-" + std::to_string(offset) + ".exe");
        ASSERT_EQ(ReadBytes(fixed).substr(0, offset), Stub({}, offset));
        Detected detected;
        Detect(fixed, detected);
        EXPECT_EQ(detected.type, atZipExe) << offset;
        EXPECT_EQ(detected.facts.ArchiveOffset, static_cast<int64_t>(offset));
        EXPECT_EQ(detected.facts.HeaderState, State{htLocal});
        EXPECT_EQ(Walk(fixed, detected).names, PlainNames());
    }
    // Old self-extractors of other formats sit at their own fixed offsets.
    std::string arc = Stub({}, 6867) + "\x1A\x08" + std::string(100, 'a');
    WriteBytes(folder / "arc.exe", arc);
    Detected detected;
    Detect(folder / "arc.exe", detected);
    EXPECT_EQ(detected.type, atArcExe);
    EXPECT_EQ(detected.facts.ArchiveOffset, 6867);
    // The LHA mark may end the file: its sixth byte is not compared.
    for (const std::string& tail : {"xx-lh5-" + std::string(100, 'a'), std::string("xx-lh5-")}) {
        WriteBytes(folder / "lha.exe", Stub({}, 1945) + tail);
        Detected lha;
        Detect(folder / "lha.exe", lha);
        EXPECT_EQ(lha.type, atLhaExe) << tail.size();
        EXPECT_EQ(lha.facts.ArchiveOffset, 1945) << tail.size();
    }
}

TEST_F(SelfExtractor, StringResourcesNameTheArchiveOffset) {
    const size_t stubSize = 3000;
    WriteBytes(folder / "res.exe",
               Stub({{1, "abc"}}, stubSize) + ReadBytes(folder / "plain.zip"));  // not a number: stop
    Detected refused;
    Detect(folder / "res.exe", refused);
    EXPECT_EQ(refused.type, atZipExe);  // found later by the directory search

    const std::string rar = "Rar!\x1A\x07" + std::string(200, 'r');
    WriteBytes(folder / "res.exe", Stub({{1, "99999999"}}, stubSize) + rar);  // cut to five digits, too large
    EXPECT_NE(TypeOf(folder / "res.exe"), atRarExe);
    WriteBytes(folder / "res.exe", Stub({{1, "100"}, {2, std::to_string(stubSize)}}, stubSize) + rar);
    Detected found;
    Detect(folder / "res.exe", found);
    EXPECT_EQ(found.type, atRarExe);
    EXPECT_EQ(found.facts.ArchiveOffset, static_cast<int64_t>(stubSize));

    WriteBytes(folder / "res.exe",
               Stub({{1, std::to_string(stubSize)}}, stubSize) + std::string(7, 'h') + "**ACE**" + std::string(50, 'a'));
    EXPECT_EQ(TypeOf(folder / "res.exe"), atAceExe);
}

TEST_F(SelfExtractor, TheStubEndAndTheSignatureScan) {
    // The DOS header says the stub is 2 pages with 100 bytes in the last: 612 bytes.
    std::string stub = Stub({}, 612);
    stub[2] = 100;
    stub[4] = 2;
    WriteBytes(folder / "end.exe", stub + "\x60\xEA\x10\x00" + std::string(100, 'j'));
    Detected arj;
    Detect(folder / "end.exe", arj);
    EXPECT_EQ(arj.type, atArjExe);
    EXPECT_EQ(arj.facts.ArchiveOffset, 612);

    WriteBytes(folder / "scan.exe", Stub({}, 20000) + "Rar!\x1A\x07" + std::string(100, 'r'));
    Detected scanned;
    Detect(folder / "scan.exe", scanned);
    EXPECT_EQ(scanned.type, atRarExe);
    EXPECT_EQ(scanned.facts.ArchiveOffset, 20000);
}

TEST(ClassifySignature, EveryRowOfTheTable) {
    struct Row {
        std::string bytes;
        TArcType plain;
        TArcType afterStub;
        int64_t offset;  // ArchiveOffset afterwards, -1 untouched
    };
    const std::string z(1, '\0');
    const Row rows[] = {
        {"\x42\x48\x05\x07", atBh, atBhExe, -1},
        {"Rar!", atRar, atRarExe, -1},
        {"PKG5", atUnknown, atUnknown, -1},
        {"MSCF", atCab, atCabExe, -1},
        {"\xB7\xDF\x54\x57", atArc, atArcExe, -2},
        {"\x13\x5D\x65\x8C", atMsGZ, atUnsupported, -1},
        {"xx-l", atLha, atLhaExe, -1},
        {"\x1A\x02..", atArc, atUnsupported, -1},
        {"\x1A\x1E..", atArc, atUnsupported, -1},
        {"\x1A\x08..", atArc, atArcExe, -1},
        {"\x1A\x09..", atArc, atArcExe, -1},
        {"\x1A\x0A..", atPak, atPakExe, -1},
        {"\x1A\x0B..", atPak, atPakExe, -1},
        {"\x1F\x1E..", atGZip, atUnsupported, -1},
        {"\x25\x21..", atGZip, atUnsupported, -1},
        {"\x1F\x8B..", atGZip, atUnsupported, -1},
        {"\x1F\x9D..", atGZip, atUnsupported, -1},
        {"\x1F\x9E..", atGZip, atUnsupported, -1},
        {"\x1F\xA0..", atGZip, atUnsupported, -1},
        {"HA..", atHA, atUnsupported, -1},
        {"PK\x01\x02", atZipDS, atZipDS, -1},
        {"PN\x07\x08", atZipDS, atZipDS, -1},
        {"PKG4", atNA, atNA, -1},
        {"PMCI", atNA, atNA, -1},
        {"PK\x03\x04", atZip, atZipExe, -1},
        {"PL\x03\x04", atZip, atZipExe, -1},
        {"ZO..", atZoo, atUnsupported, -1},
        {"\xB7\x92..", atArcExe, atArcExe, 7716},
        {"\xB7\xDF..", atArcExe, atArcExe, 7716},
        {"\x60\xEA..", atArj, atArjExe, -1},
        {"abcd", atNA, atNA, -1},
        {z + z + z + z, atNA, atNA, -1},
    };
    TempFolder folder;
    WriteBytes(folder / "any.bin", std::string(100, 'x'));
    TFileStream32 file(folder / "any.bin", fmOpenRead);
    ByteSource source(file);
    for (const Row& row : rows) {
        for (bool afterStub : {false, true}) {
            ArchiveFactsStore store;
            ArchiveFacts facts = store.Facts();
            ArchiveDetector detector(source, folder / "any.bin", facts, [] { return atZipDS; });
            const auto* bytes = reinterpret_cast<const uint8_t*>(row.bytes.data());
            EXPECT_EQ(detector.ClassifySignature(bytes, afterStub), afterStub ? row.afterStub : row.plain)
                << "bytes " << row.bytes << (afterStub ? " after a stub" : " plain");
            const int64_t offset = row.offset == -2 ? (afterStub ? 7716 : -1) : row.offset;
            EXPECT_EQ(facts.ArchiveOffset, offset) << row.bytes;
        }
    }
}

TEST_F(Detection, OtherFormatsAtTheStartOfAFile) {
    struct Case {
        const char* name;
        std::string bytes;
        TArcType type;
        int64_t offset;
    };
    const std::string pad(200, ' ');
    const Case cases[] = {
        {"x.rar", "Rar!\x1A\x07" + pad, atRar, 0},
        {"x.gz", "\x1F\x8B\x08" + pad, atGZip, 0},
        {"x.ace", std::string(7, 'h') + "**ACE**" + pad, atAce, 0},
        {"mac.lzh", std::string(130, '\0') + "-lh5-" + pad, atLha, 128},
        {"x.uue", "begin 644 a.txt\nM86)C\n`\nend\n" + pad, atUUE, 0},
        {"late.uue", "header text\nbegin\nM86)C\n" + pad, atUUE, 0},
        {"no.uue", "prose\nMore words\n" + pad, atNA, 0},
        {"x.cab", "MSCF" + std::string(4, '\0') + pad, atCab, 0},
    };
    for (const Case& c : cases) {
        WriteBytes(folder / c.name, c.bytes);
        Detected detected;
    Detect(folder / c.name, detected);
        EXPECT_EQ(detected.type, c.type) << c.name;
        EXPECT_EQ(detected.facts.ArchiveOffset, c.offset) << c.name;
    }
}

TEST_F(Detection, TarFilesAreRecognisedByTheirHeaderChecksum) {
    Detected tar;
    Detect(ToolMade("plain.tar"), tar);
    EXPECT_EQ(tar.type, atTar);
    EXPECT_EQ(tar.facts.ArchiveOffset, 0);
    Detected labelled;
    Detect(ToolMade("labelled.tar"), labelled);
    EXPECT_EQ(labelled.type, atTar);
    EXPECT_EQ(labelled.facts.ArchiveOffset, 512);
    std::string damaged = ReadBytes(ToolMade("plain.tar"));
    damaged[0] ^= 1;  // the checksum no longer matches
    WriteBytes(folder / "damaged.tar", damaged);
    EXPECT_NE(TypeOf(folder / "damaged.tar"), atTar);
}

TEST_F(Detection, ArchivesMadeBy7zip) {
    Detected detected;
    Detect(ToolMade("seven.zip"), detected);
    EXPECT_EQ(detected.type, atZip);
    EXPECT_EQ(Walk(ToolMade("seven.zip"), detected).names, PlainNames());
}

}  // namespace
