#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "archive/format/archive_exceptions.h"
#include "archive/format/crc.h"
#include "archive/format/error_codes.h"
#include "archive/format/path_names.h"
#include "archive/reader/file_stream32.h"
#include "archive/format/zip_cipher.h"
#include "frame_test_support.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"
#include "platform/temp_files.h"
#include "testable_unzip.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

using namespace frame_test;

namespace {

struct ReportedError {
    std::string fileName, extendedMsg, volumeID;
    int32_t code;
};

// Records every OnError of a component.
struct ErrorLog {
    explicit ErrorLog(TUnZip& unzip) {
        unzip.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string& v,
                               int32_t code) { errors.push_back({f, e, v, code}); };
    }
    std::vector<ReportedError> errors;
};

TEST(Percent, RoundsHalvesToEvenAndClamps) {
    struct Case {
        int64_t done, total;
        int expected;
    } cases[] = {
        {5, 0, 0}, {1, 3, 33}, {1, 200, 0}, {3, 200, 2}, {7, 5, 100},
        {2, 3, 67}, {5, 200, 2}, {-5, 10, 0}, {10, -1, 0}, {1, 1, 100}, {0, 7, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Percent(c.done, c.total), c.expected) << c.done << "/" << c.total;
}

TEST(ReportProgress, StoresPercentagesPumpsThenFires) {
    TestableUnZip unzip;
    std::vector<std::string> order;
    platform::SetMessagePump([&] { order.push_back("pump"); });
    unzip.OnProgress = [&](TObject* sender, uint8_t byFile, uint8_t byArchive) {
        EXPECT_EQ(sender, &unzip);
        order.push_back("progress " + std::to_string(byFile) + " " + std::to_string(byArchive));
    };
    unzip.SetBytesRemainingDirectly(750);
    unzip.ReportProgress(50, 200, 1000);
    EXPECT_EQ(order, (std::vector<std::string>{"pump", "progress 25 25"}));
    EXPECT_EQ(unzip.LastFilePercent(), 25);
    EXPECT_EQ(unzip.LastArchivePercent(), 25);

    // A throwing handler or pump does not escape.
    unzip.OnProgress = [](TObject*, uint8_t, uint8_t) { throw std::runtime_error("handler"); };
    EXPECT_NO_THROW(unzip.ReportProgress(1, 2, 1000));
    platform::SetMessagePump([] { throw std::runtime_error("pump"); });
    EXPECT_NO_THROW(unzip.ReportProgress(1, 2, 1000));
    platform::SetMessagePump(nullptr);
}

TEST(ReportProgress, ArchivePercentOfExtremeCountsStaysInRange) {
    // Sizes come from the archive: the count done is total - remaining even
    // where that difference leaves the 64-bit range.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    const struct {
        int64_t remaining, total;
        int expected;
    } cases[] = {
        {-1, kMax, 100}, {kMin, kMax, 100}, {kMin, 1, 100}, {kMax, kMax, 0}, {kMax / 2, kMax, 50}, {1, 0, 0},
    };
    TestableUnZip unzip;
    for (const auto& c : cases) {
        unzip.SetBytesRemainingDirectly(c.remaining);
        unzip.ReportProgress(0, 0, c.total);
        EXPECT_EQ(unzip.LastArchivePercent(), c.expected) << c.remaining << " of " << c.total;
    }
}

TEST(BuildOutputPath, EmptyExtractDirTakesTheArchiveFolderOrTheCurrentOne) {
    const TempFolder scratch;
    const std::string dir = scratch.str() + "/";
    WriteFile(dir + "a.zip", std::string(64, 'z'));
    {
        TUnZip unzip;
        unzip.SetArchiveFile(dir + "a.zip");
        unzip.BuildOutputPath("x/y.txt");
        EXPECT_EQ(unzip.OutputPath(), dir + "x/y.txt");
        EXPECT_EQ(unzip.ExtractDir(), dir);
    }
    {
        TUnZip unzip;
        unzip.BuildOutputPath("y.txt");
        EXPECT_EQ(unzip.OutputPath(), platform::CurrentDirectory() + "y.txt");
    }
    {
        TUnZip unzip;  // a relative target still yields a rooted path
        unzip.SetExtractDir("rel");
        unzip.BuildOutputPath("y.txt");
        EXPECT_EQ(SlashPath(unzip.OutputPath()), "/rel/y.txt");
    }
}

TEST(ErrorReports, ReportAndRaiseBeforeAndAfterCancel) {
    TestableUnZip unzip;
    ErrorLog log(unzip);
    unzip.SetOutputPathDirectly("/out/file.txt");

    unzip.ReportError("a.zip", "ext", "3", ErrorCode::CrcFailed);
    try {
        unzip.RaiseError("a.zip", "", "0", ErrorCode::BadBlock);
        FAIL() << "no exception";
    } catch (const E_RAISE& e) {
        EXPECT_STREQ(e.what(), "Bad block");
    }
    EXPECT_THROW(unzip.RaiseError(&Raise<EReadError>, "a.zip", "", "0", ErrorCode::WriteError), EReadError);
    ASSERT_EQ(log.errors.size(), 3u);
    EXPECT_EQ(log.errors[0].fileName, "a.zip");
    EXPECT_EQ(log.errors[0].extendedMsg, "ext");
    EXPECT_EQ(log.errors[0].volumeID, "3");
    EXPECT_EQ(log.errors[0].code, ErrorCode::CrcFailed);
    EXPECT_EQ(log.errors[1].code, ErrorCode::BadBlock);
    EXPECT_EQ(log.errors[2].code, ErrorCode::WriteError);

    // Once cancelled every report carries UserCanceled and nothing is raised.
    log.errors.clear();
    unzip.SetCancel(true);
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.errors[0].code, ErrorCode::UserCanceled);
    EXPECT_EQ(log.errors[0].extendedMsg, "/out/file.txt");
    EXPECT_EQ(log.errors[0].volumeID, "0");
    for (int32_t code : {ErrorCode::BadFileHeader, ErrorCode::WriteError, ErrorCode::DiskFull, ErrorCode::OpenError, ErrorCode::EventNotAssigned, ErrorCode::InvalidPassword}) {
        unzip.ReportError("a.zip", "", "0", code);
        EXPECT_NO_THROW(unzip.RaiseError("a.zip", "", "0", code));
        EXPECT_NO_THROW(unzip.RaiseError(&Raise<EFOpenError>, "a.zip", "", "0", code));
    }
    ASSERT_EQ(log.errors.size(), 19u);
    for (const ReportedError& e : log.errors) EXPECT_EQ(e.code, ErrorCode::UserCanceled);

    // Clearing the flag reports nothing.
    log.errors.clear();
    unzip.SetCancel(false);
    EXPECT_TRUE(log.errors.empty());
}

TEST(ErrorReports, WithoutAHandlerNothingFailsButRaiseStillRaises) {
    TUnZip unzip;
    EXPECT_NO_THROW(unzip.ReportError("a", "", "0", ErrorCode::BadFileHeader));
    EXPECT_THROW(unzip.RaiseError("a", "", "0", ErrorCode::BadFileHeader), E_RAISE);
}

class WriteOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = folder_.str() + "/";
        unzip_.SetOutputPathDirectly("/target/file.bin");
        unzip_.SetFilesExtractedDirectly(3);
    }
    TempFolder folder_;
    std::string dir_;
    TestableUnZip unzip_;
    ErrorLog log_{unzip_};
};

TEST_F(WriteOutTest, CompleteWriteUpdatesTheRequestedCrc) {
    const std::string data = SampleText(10000);
    TFileStream32 target(dir_ + "out.bin", fmCreate);
    unzip_.SetRunningCrc(0xFFFFFFFF);
    EXPECT_EQ(unzip_.WriteOut(target, data.data(), 10000, true, kCrc32), 10000);
    const uint32_t zlibCrc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), 10000);
    EXPECT_EQ(unzip_.RunningCrc() ^ 0xFFFFFFFF, zlibCrc);

    EXPECT_EQ(unzip_.WriteOut(target, data.data(), 100, false, kCrc32), 100);
    EXPECT_EQ(unzip_.RunningCrc() ^ 0xFFFFFFFF, zlibCrc);  // untouched
    EXPECT_EQ(unzip_.WriteOut(target, data.data(), 100, true, 7), 100);
    EXPECT_EQ(unzip_.RunningCrc() ^ 0xFFFFFFFF, zlibCrc);  // unknown kind: untouched
    EXPECT_TRUE(log_.errors.empty());
    EXPECT_EQ(unzip_.FilesExtracted(), 3);
    EXPECT_EQ(target.GetSize(), 10200);
}

TEST_F(WriteOutTest, ShortWriteReportsAndLowersTheCount) {
    WriteFile(dir_ + "ro.bin", "x");
    TFileStream32 target(dir_ + "ro.bin", fmOpenRead | fmShareDenyNone);  // writes fail
    unzip_.SetRunningCrc(0xFFFFFFFF);
    EXPECT_EQ(unzip_.WriteOut(target, "abcd", 4, true, kCrc32), 0);
    EXPECT_EQ(unzip_.FilesExtracted(), 2);
    EXPECT_EQ(unzip_.RunningCrc(), 0xFFFFFFFFu);
    ASSERT_EQ(log_.errors.size(), 1u);
    EXPECT_EQ(log_.errors[0].code, ErrorCode::WriteError);
    EXPECT_EQ(log_.errors[0].extendedMsg, "/target/file.bin");

    unzip_.SetFilesExtractedDirectly(0);
    unzip_.WriteOut(target, "abcd", 4, true, kCrc32);
    EXPECT_EQ(unzip_.FilesExtracted(), 0);  // never below 0
}

// The disk-full path, with the system itself reporting no space left.
void ExpectDiskFull(TestableUnZip& unzip, ErrorLog& log, TStream32& target, int32_t count) {
    std::vector<char> data(static_cast<size_t>(count), 'q');
    try {
        unzip.WriteOut(target, data.data(), count, true, kCrc32);
        FAIL() << "no exception";
    } catch (const E_RAISE& e) {
        EXPECT_STREQ(e.what(), "Disk full");
    }
    EXPECT_EQ(unzip.FilesExtracted(), 0);
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.errors[0].code, ErrorCode::DiskFull);
    EXPECT_EQ(log.errors[0].extendedMsg, "/target/file.bin");
}

TEST_F(WriteOutTest, DiskFullOnASmallFileSystem) {
    SKIP_ON_WINDOWS("a small file system is made by mounting a tmpfs, which only POSIX systems have");
    const std::string mountPoint = dir_ + "small";
    ASSERT_TRUE(platform::CreateDir(mountPoint));
    if (std::system(("mount -t tmpfs -o size=64k tmpfs " + mountPoint + " 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        std::string at;
        ~Unmount() { std::system(("umount " + at).c_str()); }
    } unmount{mountPoint};
    TFileStream32 target(mountPoint + "/big.bin", fmCreate);
    ASSERT_GE(target.Handle(), 0);
    ExpectDiskFull(unzip_, log_, target, 256 * 1024);
    EXPECT_GT(target.GetSize(), 0);  // what fitted stays written
}

TEST_F(WriteOutTest, DiskFullOnTheFullDevice) {
    if (!FullDeviceOpens()) GTEST_SKIP() << "no device that is always full here";
    TFileStream32 target("/dev/full", fmOpenWrite | fmShareDenyNone);
    ASSERT_GE(target.Handle(), 0);
    ExpectDiskFull(unzip_, log_, target, 1000);
}

TEST_F(WriteOutTest, DiskFullWhileCancelledReportsUserCanceledAndDoesNotRaise) {
    if (!FullDeviceOpens()) GTEST_SKIP() << "no device that is always full here";
    TFileStream32 target("/dev/full", fmOpenWrite | fmShareDenyNone);
    unzip_.CancelFlag() = true;
    EXPECT_EQ(unzip_.WriteOut(target, "abc", 3, true, kCrc32), 0);
    ASSERT_EQ(log_.errors.size(), 1u);
    EXPECT_EQ(log_.errors[0].code, ErrorCode::UserCanceled);
}

TEST_F(WriteOutTest, DecipherWriteOutOnlyForEncryptedZipFamilyEntries) {
    const std::string plain = "attack at dawn";
    // Encipher with the cipher's inverse: c = p ^ DecryptByte, keys advanced by p.
    TZipCipher encoder;
    encoder.InitKeys("pw");
    std::string cipherText = plain;
    for (char& c : cipherText) {
        const auto p = static_cast<uint8_t>(c);
        c = static_cast<char>(p ^ encoder.DecryptByte());
        encoder.UpdateKeys(p);
    }
    struct Case {
        TArcType type;
        bool encrypted;
        bool deciphered;
    } cases[] = {
        {atZip, true, true}, {atJar, true, true}, {atZipMV, true, true}, {atBh, true, true},
        {atZip, false, false}, {atArj, true, false}, {atRar, true, false},
    };
    for (const Case& c : cases) {
        unzip_.SetArcTypeDirectly(c.type);
        unzip_.SetEntryEncrypted(c.encrypted);
        EntryCipher().InitKeys("pw");
        std::string buffer = cipherText;
        {
            TFileStream32 target(dir_ + "d.bin", fmCreate);
            unzip_.DecipherWriteOut(target, buffer.data(), static_cast<int32_t>(buffer.size()), false, kNoCrc);
        }
        EXPECT_EQ(ReadFile(dir_ + "d.bin") == plain, c.deciphered) << c.type << " " << c.encrypted;
    }
}

TEST(ReadIn, PlainEncryptedAndFailedReads) {
    const TempFolder scratch;
    const std::string dir = scratch.str() + "/";
    const std::string data = SampleText(3000);
    WriteFile(dir + "in.bin", data);
    TestableUnZip unzip;
    std::string buffer(4000, '\0');

    // Plain: a short read at the end, CRC-32 over the bytes read.
    {
        TFileStream32 source(dir + "in.bin", fmOpenRead | fmShareDenyWrite);
        unzip.SetRunningCrc(0xFFFFFFFF);
        EXPECT_EQ(unzip.ReadIn(source, buffer.data(), 4000, kCrc32, false), 3000);
        EXPECT_EQ(buffer.substr(0, 3000), data);
        EXPECT_EQ(unzip.RunningCrc() ^ 0xFFFFFFFF, crc32(0, reinterpret_cast<const Bytef*>(data.data()), 3000));
        EXPECT_EQ(unzip.ReadIn(source, buffer.data(), 10, kCrc32, false), 0);
    }
    // ARJ: each byte XOR-ed with the next password character, cycling across calls.
    {
        TFileStream32 source(dir + "in.bin", fmOpenRead | fmShareDenyWrite);
        unzip.SetArcTypeDirectly(atArj);
        unzip.SetPassword("key");
        unzip.SetRunningCrc(0);
        EXPECT_EQ(unzip.ReadIn(source, buffer.data(), 5, kCrc16, true), 5);
        EXPECT_EQ(unzip.ReadIn(source, buffer.data() + 5, 5, kCrc16, true), 5);
        const std::string key = "keykeykeyk";
        for (int i = 0; i < 10; ++i) EXPECT_EQ(buffer[i], static_cast<char>(data[i] ^ key[i])) << i;
        EXPECT_EQ(unzip.RunningCrc(), UpdateCrc16(0, buffer.data(), 10));  // over the deciphered bytes
    }
    // ZIP family: the entry cipher deciphers in place.
    {
        TFileStream32 source(dir + "in.bin", fmOpenRead | fmShareDenyWrite);
        unzip.SetArcTypeDirectly(atZip);
        EntryCipher().InitKeys("pw");
        EXPECT_EQ(unzip.ReadIn(source, buffer.data(), 100, kNoCrc, true), 100);
        std::string expected = data.substr(0, 100);
        TZipCipher reference;
        reference.InitKeys("pw");
        reference.DecipherBuffer(expected.data(), expected.size());
        EXPECT_EQ(buffer.substr(0, 100), expected);
    }
    // A failed read counts as nothing read.
    {
        TFileStream32 writeOnly(dir + "in.bin", fmOpenWrite | fmShareDenyNone);
        EXPECT_EQ(unzip.ReadIn(writeOnly, buffer.data(), 100, kCrc32, false), 0);
    }
}

TEST(Crc, KindsSixteenAndThirtyTwo) {
    const char check[] = "123456789";
    EXPECT_EQ(UpdateCrc16(0, check, 9), 0xBB3Du);
    EXPECT_EQ(UpdateCrc32(0xFFFFFFFF, check, 9) ^ 0xFFFFFFFF, 0xCBF43926u);
    // In pieces.
    EXPECT_EQ(UpdateCrc32(UpdateCrc32(0xFFFFFFFF, check, 4), check + 4, 5), UpdateCrc32(0xFFFFFFFF, check, 9));
    EXPECT_EQ(UpdateCrc16(UpdateCrc16(0, check, 4), check + 4, 5), 0xBB3Du);
}

TEST(DateServices, DosToDateTimeAndEntryFileDate) {
    TestableUnZip unzip;
    const double kDefault = 29221.0 + 60.0 / 86400.0;  // 1980-01-01 00:01:00
    EXPECT_NEAR(unzip.DosToDateTime(0), kDefault, 1e-9);
    EXPECT_NEAR(unzip.DosToDateTime(0x00210020), kDefault, 1e-9);
    EXPECT_NEAR(unzip.DosToDateTime(0x00200020), kDefault, 1e-9);  // day 0 does not convert
    EXPECT_NEAR(unzip.DosToDateTime((13u << 5 | 1u) << 16), kDefault, 1e-9);  // month 13
    // 2001-05-01 12:30:10: date (21 << 9 | 5 << 5 | 1), time (12 << 11 | 30 << 5 | 5).
    const uint32_t may2001 = (21u << 9 | 5u << 5 | 1u) << 16 | (12u << 11 | 30u << 5 | 5u);
    EXPECT_NEAR(unzip.DosToDateTime(may2001), 37012.0 + (12 * 3600 + 30 * 60 + 10) / 86400.0, 1e-9);
    // 2000-02-29 exists, 2001-02-29 does not.
    EXPECT_NEAR(unzip.DosToDateTime((20u << 9 | 2u << 5 | 29u) << 16), 36585.0, 1e-9);
    EXPECT_NEAR(unzip.DosToDateTime((21u << 9 | 2u << 5 | 29u) << 16), kDefault, 1e-9);
    EXPECT_NEAR(unzip.DosToDateTime((may2001 & 0xFFFF0000u) | (24u << 11)), kDefault, 1e-9);  // hour 24

    unzip.SetNewestDateDirectly(0x5D89BF54);
    unzip.SetDateAttribute(daFileDate);
    EXPECT_EQ(unzip.EntryFileDate(may2001), may2001);
    unzip.SetDateAttribute(daMaxFileDate);
    EXPECT_EQ(unzip.EntryFileDate(may2001), 0x5D89BF54u);
    unzip.SetDateAttribute(daSysDate);
    const uint32_t now = unzip.EntryFileDate(may2001);
    EXPECT_GE(now >> 25, 2020u - 1980u);  // a current date, not the entry's
}

// Names the system's temporary folder for the life of the object, through
// the variable the platform reads first (GetTempPathW reads TMP).
class SystemTemporaryFolder {
public:
    explicit SystemTemporaryFolder(const std::string& path) {
        if (const char* old = std::getenv(kVariable)) saved_ = old;
        Set(path.c_str());
    }
    ~SystemTemporaryFolder() {
        if (saved_) Set(saved_->c_str());
        else Set(nullptr);
    }

private:
#ifdef _WIN32
    static constexpr const char* kVariable = "TMP";
    static void Set(const char* value) { _putenv_s(kVariable, value ? value : ""); }
#else
    static constexpr const char* kVariable = "TMPDIR";
    static void Set(const char* value) { value ? setenv(kVariable, value, 1) : unsetenv(kVariable); }
#endif
    std::optional<std::string> saved_;
};

TEST(MakeTempFileName, InTheFolderOrInTheSystemTemporaryFolder) {
    const TempFolder scratch;
    const std::string dir = (scratch.path() / "").string();
    TUnZip unzip;
    const std::string inFolder = unzip.MakeTempFileName(dir);
    ASSERT_FALSE(inFolder.empty());
    EXPECT_EQ(ExtractFilePath(inFolder), dir);
    EXPECT_EQ(ExtractFileName(inFolder).rfind("krv", 0), 0u);
    EXPECT_TRUE(platform::FileExists(inFolder));
    EXPECT_NE(unzip.MakeTempFileName(dir), inFolder);

    const std::string systemTemp = dir + "systemp";  // missing: it is created
    std::string elsewhere;
    {
        const SystemTemporaryFolder temporary(systemTemp);
        elsewhere = unzip.MakeTempFileName(dir + "no-such-folder");
    }
    EXPECT_EQ(ExtractFilePath(elsewhere), (std::filesystem::path(systemTemp) / "").string());
    EXPECT_TRUE(platform::FileExists(elsewhere));
}

}  // namespace
