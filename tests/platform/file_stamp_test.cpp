// A file's stamp (size and last-write time) on a real folder: it follows
// what changed, never follows a link, and counts time as the clock does.

#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <string>

#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/safe_path.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace {

namespace fs = std::filesystem;

fs::path Utf8Path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// A moment with a fraction that 100 ns file-time ticks hold exactly.
constexpr platform::UtcFileTime kMoment{1'700'000'000, 123'456'700};
constexpr int64_t kMomentNs = 1'700'000'000LL * 1'000'000'000 + 123'456'700;

TEST(FileStamp, IsTheSizeAndTheWriteTimeToTheNanosecondOfAFileNamedInHangul) {
    const TempFolder folder;
    const std::string path = folder.str() + platform::kPathSeparator + "설정 파일.ini";
    test_files::WriteFile(Utf8Path(path), "12345");
    ASSERT_TRUE(platform::SetPathWriteTimeUtc(path, kMoment));
    EXPECT_EQ(platform::StampOf(path), (platform::FileStamp{5, kMomentNs}));

    test_files::WriteFile(Utf8Path(path), "1234567");
    ASSERT_TRUE(platform::SetPathWriteTimeUtc(path, kMoment));
    EXPECT_EQ(platform::StampOf(path), (platform::FileStamp{7, kMomentNs}));

    ASSERT_TRUE(platform::SetPathWriteTimeUtc(path, {kMoment.seconds + 1, kMoment.nanoseconds}));
    EXPECT_EQ(platform::StampOf(path), (platform::FileStamp{7, kMomentNs + 1'000'000'000}));
}

TEST(FileStamp, NothingButARegularFileHasOne) {
    const TempFolder folder;
    const std::string dir = folder.str() + platform::kPathSeparator;
    test_files::WriteFile(Utf8Path(dir + "file.txt"), "x");
    fs::create_directory(Utf8Path(dir + "folder"));
    struct Case {
        const char* what;
        std::string path;
        bool posixOnly;
    };
    const Case cases[] = {
        {"missing", dir + "missing.txt", false},
        {"a folder", dir + "folder", false},
        {"below a file", dir + "file.txt" + platform::kPathSeparator + "x", false},
        {"a symbolic link to a file", dir + "link.txt", true},
        {"a device", "/dev/null", true},
    };
    // Wine fakes the making of links, so they are looked at on POSIX only.
    if (!kWindowsBuild) {
        ASSERT_TRUE(platform::CreateSymbolicLink("file.txt", dir + "link.txt"));
    }
    for (const Case& c : cases) {
        if (c.posixOnly && kWindowsBuild) continue;
        EXPECT_EQ(platform::StampOf(c.path), std::nullopt) << c.what;
    }
}

TEST(FileStamp, TheClockCountsAsWriteTimesDo) {
    const TempFolder folder;
    const std::string path = folder.str() + platform::kPathSeparator + "now.txt";
    const int64_t before = platform::CurrentFileTimeNs();
    test_files::WriteFile(Utf8Path(path), "now");
    const auto stamp = platform::StampOf(path);
    ASSERT_TRUE(stamp);
    // Another epoch or unit would be years or a factor off; a minute allows
    // for a coarse file-system clock and a slow machine.
    constexpr int64_t kMinuteNs = 60'000'000'000;
    EXPECT_LT(std::abs(stamp->writeTimeNs - before), kMinuteNs);
}

}  // namespace
