#include "archive/reader/file_stream32.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "archive/format/archive_exceptions.h"
#include "frame_test_support.h"
#include "platform/message_pump.h"
#include "support/temp_folder.h"

using namespace frame_test;

namespace {

class FileStream32 : public ::testing::Test {
protected:
    void SetUp() override { dir_ = folder_.str() + "/"; }
    void TearDown() override { platform::SetMessagePump(nullptr); }
    TempFolder folder_;
    std::string dir_;
};

TEST_F(FileStream32, CreateWriteSeekReadAndResize) {
    const std::string path = dir_ + "a.bin";
    WriteFile(path, "old content that is longer");
    TFileStream32 stream(path, fmCreate);
    ASSERT_GE(stream.Handle(), 0);
    EXPECT_EQ(stream.GetSize(), 0);  // truncated
    EXPECT_EQ(stream.Write("hello world", 11), 11);
    EXPECT_EQ(stream.GetSize(), 11);
    EXPECT_EQ(stream.Position(), 11);  // GetSize restores the position

    EXPECT_EQ(stream.Seek(int32_t{-5}, uint16_t{2}), 6);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 5);  // short read at the end
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0);

    EXPECT_EQ(stream.Seek(int64_t{2}, TSeekOrigin::soBeginning), 2);
    EXPECT_EQ(stream.Seek(int64_t{1}, TSeekOrigin::soCurrent), 3);
    EXPECT_EQ(stream.Seek(int64_t{-1}, TSeekOrigin::soBeginning), -1);
    EXPECT_EQ(stream.Seek(int32_t{0}, uint16_t{7}), -1);

    stream.SetSize(int64_t{5});
    EXPECT_EQ(stream.GetSize(), 5);
    EXPECT_EQ(stream.Position(), 5);
    stream.SetSize(int32_t{8});  // extends with zeros
    EXPECT_EQ(stream.GetSize(), 8);
    // Read back through the stream: Windows lets no one else read a file
    // while it is open for creation.
    EXPECT_EQ(stream.Seek(int64_t{0}, TSeekOrigin::soBeginning), 0);
    char back[9] = {};
    EXPECT_EQ(stream.Read(back, sizeof back), 8);
    EXPECT_EQ(std::string(back, 8), std::string("hello\0\0\0", 8));
}

TEST_F(FileStream32, FailedOpensLeaveANegativeHandleAndRaiseNothing) {
    const std::string existing = dir_ + "there.bin";
    WriteFile(existing, "x");
    struct Case {
        std::string path;
        uint16_t mode;
    } cases[] = {
        {dir_ + "missing.bin", fmOpenRead | fmShareDenyWrite},
        {existing, 0x0003},                    // access 3
        {existing, fmOpenRead | 0x0050},       // sharing 5
        {existing, fmOpenReadWrite | 0x00F0},  // sharing 15
        {dir_, fmOpenRead},                    // a folder is not a file
        {dir_ + "no/such/folder.bin", fmCreate},
    };
    for (const Case& c : cases) {
        std::unique_ptr<TFileStream32> stream;
        EXPECT_NO_THROW(stream = std::make_unique<TFileStream32>(c.path, c.mode)) << c.path;
        EXPECT_LT(stream->Handle(), 0) << c.path << " mode " << c.mode;
        EXPECT_NO_THROW(stream.reset());
    }
}

TEST_F(FileStream32, AccessAndSharingBitsThatOpen) {
    const std::string path = dir_ + "f.bin";
    WriteFile(path, "abc");
    for (uint16_t share : {0x00, 0x10, 0x20, 0x30, 0x40}) {
        TFileStream32 reader(path, static_cast<uint16_t>(fmOpenRead | share));
        ASSERT_GE(reader.Handle(), 0) << share;
        char c = 0;
        EXPECT_EQ(reader.Read(&c, 1), 1);
        EXPECT_EQ(reader.Write("z", 1), 0);  // no write access: a failed write is 0
    }
    {
        TFileStream32 writer(path, fmOpenWrite | fmShareExclusive);
        ASSERT_GE(writer.Handle(), 0);
        char c = 0;
        EXPECT_EQ(writer.Read(&c, 1), 0);  // no read access: a failed read is 0, not -1
        EXPECT_EQ(writer.Write("X", 1), 1);
    }
    EXPECT_EQ(ReadFile(path), "Xbc");
}

TEST_F(FileStream32, CreateRefusesAReadOnlyFile) {
    const std::string path = dir_ + "ro.bin";
    WriteFile(path, "keep");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    TFileStream32 stream(path, fmCreate);
    EXPECT_LT(stream.Handle(), 0);
    EXPECT_EQ(ReadFile(path), "keep");
}

TEST_F(FileStream32, SetSizeRefusedRaisesEOSError) {
    const std::string path = dir_ + "r.bin";
    WriteFile(path, "abc");
    TFileStream32 stream(path, fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(stream.Handle(), 0);
    try {
        stream.SetSize(int64_t{1});
        FAIL() << "no exception";
    } catch (const EOSError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("System Error.  Code: " + std::to_string(e.ErrorCode()) + ".\r\n", 0), 0u)
            << e.what();
    }
}

TEST_F(FileStream32, ReadBufferAndWriteBufferRaiseOnShortCounts) {
    const std::string path = dir_ + "s.bin";
    WriteFile(path, "abc");
    TFileStream32 stream(path, fmOpenRead | fmShareDenyNone);
    char buffer[8];
    EXPECT_NO_THROW(stream.ReadBuffer(buffer, 2));
    try {
        stream.ReadBuffer(buffer, 2);
        FAIL() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    try {
        stream.WriteBuffer("x", 1);
        FAIL() << "no exception";
    } catch (const EWriteError& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
}

TEST_F(FileStream32, CopyFromCountZeroCopiesTheWholeSourceFromItsStart) {
    const std::string content = SampleText(150000);  // several 61,440-byte blocks
    WriteFile(dir_ + "src.bin", content);
    TFileStream32 source(dir_ + "src.bin", fmOpenRead | fmShareDenyWrite);
    source.Seek(int64_t{1000}, TSeekOrigin::soBeginning);
    {
        TFileStream32 target(dir_ + "dst.bin", fmCreate);
        EXPECT_EQ(target.CopyFrom(source, 0), static_cast<int64_t>(content.size()));
    }
    EXPECT_EQ(ReadFile(dir_ + "dst.bin"), content);

    source.Seek(int64_t{1000}, TSeekOrigin::soBeginning);
    {
        TFileStream32 target(dir_ + "part.bin", fmCreate);
        EXPECT_EQ(target.CopyFrom(source, 70000), 70000);
    }
    EXPECT_EQ(ReadFile(dir_ + "part.bin"), content.substr(1000, 70000));
}

TEST_F(FileStream32, CopyFromStopsWhenTheCancelFlagTurnsTrueDuringPumping) {
    const std::string content = SampleText(200000);
    WriteFile(dir_ + "src.bin", content);
    TFileStream32 source(dir_ + "src.bin", fmOpenRead | fmShareDenyWrite);
    TFileStream32 target(dir_ + "dst.bin", fmCreate);
    bool cancel = false;
    int pumps = 0;
    platform::SetMessagePump([&] {
        if (++pumps == 2) cancel = true;  // the user clicks Cancel during the second block's pump
    });
    target.CancelRef = &cancel;
    EXPECT_EQ(target.CopyFrom(source, 0), 200000);  // the count settled at the start
    EXPECT_EQ(pumps, 2);
    EXPECT_EQ(target.GetSize(), 61440);
    EXPECT_EQ(source.Position(), 61440);  // the second block was never read

    // Without a cancel reference the copy runs to the end.
    target.CancelRef = nullptr;
    target.SetSize(int64_t{0});
    EXPECT_EQ(target.CopyFrom(source, 0), 200000);
    EXPECT_EQ(target.GetSize(), 200000);
}

TEST_F(FileStream32, CopyFromPassesAShortSourceOnAsEReadError) {
    WriteFile(dir_ + "src.bin", "short");
    TFileStream32 source(dir_ + "src.bin", fmOpenRead | fmShareDenyWrite);
    TFileStream32 target(dir_ + "dst.bin", fmCreate);
    EXPECT_THROW(target.CopyFrom(source, 10), EReadError);
}

// A stream opened for reading serves small reads from a 64 KiB block read
// ahead; every read must still deliver the file's bytes at the position the
// seeks named, whatever the block holds.
TEST(FileStream32ReadAhead, ReadsAndSeeksAcrossTheBlockDeliverTheFileBytes) {
    TempFolder folder;
    const std::string path = folder.str() + "/src.bin";
    const std::string content = SampleText(200000);
    WriteFile(path, content);
    TFileStream32 stream(path, fmOpenRead | fmShareDenyWrite);
    ASSERT_GE(stream.Handle(), 0);

    struct Step {
        int64_t offset;
        TSeekOrigin origin;
        int32_t count;
        const char* what;
    } steps[] = {
        {10, TSeekOrigin::soBeginning, 30, "a small record fills the block"},
        {65536 - 10, TSeekOrigin::soBeginning, 30, "a record straddling the block's end"},
        {-100, TSeekOrigin::soCurrent, 50, "a seek back into the block"},
        {5, TSeekOrigin::soBeginning, 20, "a seek back before the block"},
        {1000, TSeekOrigin::soBeginning, 100000, "a large read straight through"},
        {0, TSeekOrigin::soCurrent, 10, "a small read right after the large one"},
        {-30, TSeekOrigin::soEnd, 100, "a read running off the end"},
        {199999, TSeekOrigin::soBeginning, 1, "the last byte"},
    };
    for (const Step& step : steps) {
        const int64_t at = stream.Seek(step.offset, step.origin);
        ASSERT_GE(at, 0) << step.what;
        std::string got(static_cast<size_t>(step.count), '\0');
        const int32_t n = stream.Read(got.data(), step.count);
        EXPECT_EQ(got.substr(0, static_cast<size_t>(std::max(n, 0))),
                  content.substr(static_cast<size_t>(at), static_cast<size_t>(step.count)))
            << step.what;
        EXPECT_EQ(stream.Position(), at + n) << step.what;
    }
    char byte = 0;
    EXPECT_EQ(stream.Seek(int64_t{300000}, TSeekOrigin::soBeginning), 300000);  // past the end, as before
    EXPECT_EQ(stream.Read(&byte, 1), 0);
    EXPECT_EQ(stream.Seek(int64_t{-1}, TSeekOrigin::soCurrent), 299999);
    EXPECT_EQ(stream.Seek(int64_t{-300000}, TSeekOrigin::soCurrent), -1);
    EXPECT_EQ(stream.Position(), 299999);  // a refused seek moves nothing
    EXPECT_EQ(stream.Seek(int32_t{2}, uint16_t{0}), 2);
    EXPECT_EQ(stream.Read(&byte, 1), 1);
    EXPECT_EQ(byte, content[2]);
}

TEST(FileStream32ReadAhead, ReadsPastTheBlockSeeTheFileAsItIsNow) {
    TempFolder folder;
    const std::string path = folder.str() + "/grows.bin";
    WriteFile(path, "0123456789");
    TFileStream32 stream(path, fmOpenRead | fmShareDenyNone);
    char bytes[8] = {};
    ASSERT_EQ(stream.Read(bytes, 4), 4);  // the block holds all ten bytes

    {
        std::ofstream(path, std::ios::binary | std::ios::app) << "abcdef";
    }
    EXPECT_EQ(stream.GetSize(), 16);
    stream.SetPosition(9);
    ASSERT_EQ(stream.Read(bytes, 4), 4);  // crosses from the block into the grown part
    EXPECT_EQ(std::string(bytes, 4), "9abc");

    std::filesystem::resize_file(path, 6);
    EXPECT_EQ(stream.GetSize(), 6);
    stream.SetPosition(4);
    ASSERT_EQ(stream.Read(bytes, 4), 2);  // before the block, the file has shrunk
    EXPECT_EQ(std::string(bytes, 2), "45");
}

TEST(FileStream32ReadAhead, ClosedStreamsReadNothing) {
    TempFolder folder;
    const std::string path = folder.str() + "/c.bin";
    WriteFile(path, "content");
    TFileStream32 stream(path, fmOpenRead);
    char bytes[4] = {};
    ASSERT_EQ(stream.Read(bytes, 2), 2);
    ASSERT_TRUE(stream.Close());
    stream.SetPosition(0);
    EXPECT_EQ(stream.Read(bytes, 2), 0);
}

}  // namespace
