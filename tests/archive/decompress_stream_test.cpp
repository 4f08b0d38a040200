// TDecompressStream over file and memory sources: results of Read, refills,
// the source's position, Seek, and deciphering of enciphered input.

#include <gtest/gtest.h>

#include <filesystem>

#include "archive/format/archive_exceptions.h"
#include "archive/reader/decompress_stream.h"
#include "archive/reader/file_stream32.h"
#include "archive/format/zip_cipher.h"
#include "tests/archive/frame_test_support.h"
#include "tests/archive/inflate_test_support.h"
#include "tests/archive/tool_made_fixtures.h"
#include "support/temp_folder.h"

using namespace inflate_test;
namespace fs = std::filesystem;

namespace {

// A source in memory that records the size of every read request.
class MemorySource : public TStream32 {
public:
    explicit MemorySource(Bytes data) : data_(std::move(data)) {}
    int32_t Read(void* buffer, int32_t count) override {
        requests.push_back(count);
        const auto n = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(data_.size()) - position_));
        std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
        position_ += n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    using TStream32::Seek;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                             : origin == TSeekOrigin::soCurrent ? position_
                                                                : static_cast<int64_t>(data_.size());
        position_ = base + offset;
        return position_;
    }
    std::vector<int32_t> requests;

private:
    Bytes data_;
    int64_t position_ = 0;
};

class DecompressStream : public testing::Test {
protected:
    static constexpr size_t kPrefix = 100;

    void SetUp() override {
        data_ = LicenceText();
        data_.resize(100000);
        packed_ = ZlibDeflate(data_, 6);
    }

    // A file of 100 junk bytes, the stream (or its first `keep` bytes) and a trailer.
    std::string WriteArchive(size_t keep = SIZE_MAX, bool trailer = true) {
        Bytes file(kPrefix, 0x5A);
        file.insert(file.end(), packed_.begin(), packed_.begin() + static_cast<long>(std::min(keep, packed_.size())));
        if (trailer) file.insert(file.end(), 3000, 0xEE);
        const fs::path path = dir_ / "archive.bin";
        WriteFile(path, file);
        return path.string();
    }

    const TempFolder folder_{"quendal-decompress"};
    const fs::path dir_ = folder_.path();
    Bytes data_, packed_;
};

TEST_F(DecompressStream, ReadsInChunksAndEndsShort) {
    TFileStream32 file(WriteArchive(), fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(file.Handle(), 0);
    file.SetPosition(kPrefix);
    TDecompressStream stream(file, -15);
    EXPECT_EQ(stream.SourcePos, static_cast<int64_t>(kPrefix));
    Bytes out;
    Bytes chunk(32768);
    std::vector<int32_t> results;
    for (int32_t n; (n = stream.Read(chunk.data(), 32768)) > 0;) {
        results.push_back(n);
        out.insert(out.end(), chunk.begin(), chunk.begin() + n);
    }
    EXPECT_EQ(results, (std::vector<int32_t>{32768, 32768, 32768, 1696}));
    EXPECT_TRUE(out == data_);
    EXPECT_EQ(stream.Read(chunk.data(), 32768), 0) << "after the end, reads store nothing";
    EXPECT_EQ(stream.TotalOut(), data_.size());
    EXPECT_EQ(stream.TotalIn(), packed_.size());
    EXPECT_EQ(stream.GetSize(), static_cast<int64_t>(data_.size()));
}

// Whatever the refills read ahead, destruction leaves the source on the
// first byte after the compressed stream.
TEST_F(DecompressStream, DestructionLeavesTheSourceAfterTheConsumedBytes) {
    const std::string path = WriteArchive();
    for (int32_t readSize : {1, 1000, 4096, 32768, 65536}) {
        TFileStream32 file(path, fmOpenRead | fmShareDenyWrite);
        file.SetPosition(kPrefix);
        {
            TDecompressStream stream(file, -15);
            Bytes chunk(static_cast<size_t>(readSize));
            int64_t total = 0;
            for (int32_t n; (n = stream.Read(chunk.data(), readSize)) > 0;) total += n;
            EXPECT_EQ(total, static_cast<int64_t>(data_.size()));
            EXPECT_GT(file.Position(), static_cast<int64_t>(kPrefix + packed_.size())) << "reads ahead";
        }
        EXPECT_EQ(file.Position(), static_cast<int64_t>(kPrefix + packed_.size())) << "read size " << readSize;
    }
}

TEST_F(DecompressStream, SourceEndingMidStreamGivesMinus5) {
    TFileStream32 file(WriteArchive(packed_.size() / 2, false), fmOpenRead | fmShareDenyWrite);
    file.SetPosition(kPrefix);
    TDecompressStream stream(file, -15);
    Bytes chunk(32768);
    int32_t n;
    uint64_t produced = 0;
    while ((n = stream.Read(chunk.data(), 32768)) > 0) produced += static_cast<uint64_t>(n);
    EXPECT_EQ(n, kInflateBufError);
    produced += static_cast<uint64_t>(32768 - stream.AvailOut());
    EXPECT_EQ(produced, stream.TotalOut()) << "AvailOut tells how much of the failed read was produced";
    EXPECT_GT(produced, 0u);
    EXPECT_EQ(stream.Read(chunk.data(), 32768), kInflateBufError);
}

TEST_F(DecompressStream, MovingTheSourceBetweenReadsDoesNotDisturbDecoding) {
    TFileStream32 file(WriteArchive(), fmOpenRead | fmShareDenyWrite);
    file.SetPosition(kPrefix);
    TDecompressStream stream(file, -15);
    Bytes out, chunk(1000);
    for (int32_t n; (n = stream.Read(chunk.data(), 1000)) > 0;) {
        out.insert(out.end(), chunk.begin(), chunk.begin() + n);
        file.SetPosition(static_cast<int64_t>(out.size() % 777));
    }
    EXPECT_TRUE(out == data_);
}

TEST_F(DecompressStream, RefillsAskForTheCallersCountAndNotify) {
    MemorySource source(packed_);
    TDecompressStream stream(source, -15);
    int notifications = 0;
    stream.OnInputRead = [&](TObject* sender) {
        EXPECT_EQ(sender, &stream);
        ++notifications;
    };
    Bytes chunk(70000);
    EXPECT_EQ(stream.Read(chunk.data(), 500), 500);
    EXPECT_EQ(stream.Read(chunk.data(), 20000), 20000);
    EXPECT_EQ(stream.Read(chunk.data(), 70000), 70000);
    ASSERT_GE(source.requests.size(), 3u);
    EXPECT_EQ(source.requests[0], 500);
    EXPECT_EQ(source.requests.back(), 65536) << "never more than the input buffer holds";
    for (int32_t r : source.requests) EXPECT_TRUE(r == 500 || r == 20000 || r == 65536) << r;
    EXPECT_EQ(notifications, static_cast<int>(source.requests.size()));
}

TEST_F(DecompressStream, SeekRules) {
    TFileStream32 file(WriteArchive(), fmOpenRead | fmShareDenyWrite);
    file.SetPosition(kPrefix);
    TDecompressStream stream(file, -15);
    Bytes chunk(5000);
    ASSERT_EQ(stream.Read(chunk.data(), 5000), 5000);

    // Backwards, from the end, or to a place already passed: nothing changes.
    EXPECT_EQ(stream.Seek(int32_t{-1}, 1), 5000);
    EXPECT_EQ(stream.Seek(int32_t{0}, 2), 5000);
    EXPECT_EQ(stream.Seek(int64_t{3000}, TSeekOrigin::soBeginning), 5000);
    // Forward moves decode and discard.
    EXPECT_EQ(stream.Seek(int32_t{10000}, 1), 15000);
    EXPECT_EQ(stream.Seek(int64_t{20000}, TSeekOrigin::soBeginning), 20000);
    ASSERT_EQ(stream.Read(chunk.data(), 100), 100);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.begin() + 100, data_.begin() + 20000));
    // Past the end: the skip's read comes up short.
    EXPECT_THROW(stream.Seek(int64_t{200000}, TSeekOrigin::soBeginning), EReadError);
    EXPECT_THROW(stream.Seek(int64_t{1} << 32, TSeekOrigin::soCurrent), ERangeError);
    EXPECT_EQ(stream.Write(chunk.data(), 10), -1);
}

// Offset 0 from the beginning restarts at the source's position 0, not where
// the stream was created; GetSize on a fresh stream ends with that seek.
TEST_F(DecompressStream, SeekToZeroRewindsTheSourceToItsStart) {
    Bytes file = packed_;
    file.insert(file.end(), 500, 0);
    const fs::path path = dir_ / "at-zero.bin";
    WriteFile(path, file);
    TFileStream32 source(path.string(), fmOpenRead | fmShareDenyWrite);
    source.SetPosition(300);  // not a stream start: garbage if decoded from here
    TDecompressStream stream(source, -15);
    EXPECT_EQ(stream.GetSize(), 0);
    EXPECT_EQ(source.Position(), 0);
    EXPECT_EQ(stream.SourcePos, 0);
    Bytes out(data_.size());
    ASSERT_EQ(stream.Read(out.data(), static_cast<int32_t>(out.size())), static_cast<int32_t>(out.size()));
    EXPECT_TRUE(out == data_);
    EXPECT_EQ(stream.Seek(int64_t{0}, TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(stream.TotalIn(), 0u);
    ASSERT_EQ(stream.Read(out.data(), 1234), 1234);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1234, data_.begin()));
}

TEST_F(DecompressStream, DecoderFailuresAreNegativeReads) {
    MemorySource bad(Bytes{0x07, 0, 0, 0});  // block type 3
    TDecompressStream badStream(bad, -15);
    Bytes chunk(100);
    EXPECT_EQ(badStream.Read(chunk.data(), 100), kInflateDataError);

    MemorySource good(packed_);
    TDecompressStream noDecoder(good, -20);
    EXPECT_EQ(noDecoder.Read(chunk.data(), 100), kInflateStreamError);
}

// An entry enciphered by Info-ZIP's zip -P: the stream deciphers each refill
// with the entry's keys, set up by the 12-byte header.
TEST_F(DecompressStream, DeciphersInputEncipheredByZip) {
    // zip -P secret over SampleText(100000).
    const std::string made = ToolMade("deflated-zip-p.zip");
    const std::string text = frame_test::SampleText(100000);
    const Bytes plain(text.begin(), text.end());
    const std::vector<ZipEntry> entries = ReadZip(ReadFile(made));
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].flags & 1, 1) << "enciphered";
    ASSERT_EQ(entries[0].method, 8);

    TFileStream32 file(made, fmOpenRead | fmShareDenyWrite);
    file.SetPosition(static_cast<int64_t>(entries[0].dataOffset));
    TZipCipher& cipher = EntryCipher();
    cipher.InitKeys("secret");
    uint8_t header[12];
    file.ReadBuffer(header, 12);
    cipher.DecipherBuffer(header, 12);

    TDecompressStream stream(file, -15);
    stream.Encrypted = true;
    Bytes out(plain.size() + 10);
    EXPECT_EQ(stream.Read(out.data(), 32768), 32768);
    EXPECT_EQ(stream.Read(out.data() + 32768, static_cast<int32_t>(out.size() - 32768)),
              static_cast<int32_t>(plain.size() - 32768));
    out.resize(plain.size());
    EXPECT_TRUE(out == plain);
    EXPECT_EQ(Crc32(out), entries[0].crc);
}

}  // namespace
