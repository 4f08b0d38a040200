// A file's stamp on a real folder: it follows what changed, also what the
// extractor cannot set back (the change time, the file's identity), never
// follows a link, and counts time as the clock does.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/file_attributes.h"
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

// File systems take their times from a clock that moves in ticks (a few ms
// on Linux, about 16 ms on Windows): a change after this lands in another.
void WaitPastAClockTick() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(FileStamp, HoldsTheSizeAndTheWriteTimeToTheNanosecondOfAFileNamedInHangul) {
    const TempFolder folder;
    const std::string path = folder.str() + platform::kPathSeparator + "설정 파일.ini";
    struct Step {
        std::string bytes;
        platform::UtcFileTime time;
        int64_t writeTimeNs;
    };
    const Step steps[] = {
        {"12345", kMoment, kMomentNs},
        {"1234567", kMoment, kMomentNs},
        {"1234567", {kMoment.seconds + 1, kMoment.nanoseconds}, kMomentNs + 1'000'000'000},
    };
    for (const Step& step : steps) {
        test_files::WriteFile(Utf8Path(path), step.bytes);
        ASSERT_TRUE(platform::SetPathWriteTimeUtc(path, step.time));
        const auto stamp = platform::StampOf(path);
        ASSERT_TRUE(stamp);
        EXPECT_EQ(stamp->size, step.bytes.size());
        EXPECT_EQ(stamp->writeTimeNs, step.writeTimeNs);
    }
}

// Each change keeps the size and puts the write time back, as an extractor
// writing another release of fixed dates would: the stamp must still tell.
TEST(FileStamp, AChangeWithTheSizeAndWriteTimePutBackStillShows) {
    const TempFolder folder;
    const std::string dir = folder.str() + platform::kPathSeparator;
    const std::string path = dir + "tool.dll";
    struct Case {
        const char* what;
        std::function<void()> change;
        bool sameFile;  // the same identity on the volume
    };
    const Case cases[] = {
        {"other bytes written in place", [&] { test_files::WriteFile(Utf8Path(path), "abd"); }, true},
        {"other bytes in a new file renamed over it",
         [&] {
             test_files::WriteFile(Utf8Path(dir + "tool.new"), "abd");
             ASSERT_TRUE(platform::SetPathWriteTimeUtc(dir + "tool.new", kMoment));
             fs::rename(Utf8Path(dir + "tool.new"), Utf8Path(path));
         },
         false},
        {"only the write time set to another and back",
         [&] { ASSERT_TRUE(platform::SetPathWriteTimeUtc(path, {kMoment.seconds + 9, 0})); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test_files::WriteFile(Utf8Path(path), "abc");
        ASSERT_TRUE(platform::SetPathWriteTimeUtc(path, kMoment));
        const auto before = platform::StampOf(path);
        ASSERT_TRUE(before);
        // Reading changes nothing of it.
        EXPECT_EQ(test_files::ReadAll(Utf8Path(path)), "abc");
        EXPECT_EQ(platform::StampOf(path), before);

        WaitPastAClockTick();
        c.change();
        ASSERT_TRUE(platform::SetPathWriteTimeUtc(path, kMoment));
        const auto after = platform::StampOf(path);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->size, before->size);
        EXPECT_EQ(after->writeTimeNs, before->writeTimeNs);
        EXPECT_GT(after->changeTimeNs, before->changeTimeNs);
        EXPECT_EQ(after->volume, before->volume);
        EXPECT_EQ(after->fileId == before->fileId, c.sameFile);
        EXPECT_NE(after, before);
    }
}

TEST(FileStamp, HoldsTheAttributesAsArchivesStoreThem) {
    const TempFolder folder;
    const std::string path = folder.str() + platform::kPathSeparator + "tool.sh";
    test_files::WriteFile(Utf8Path(path), "#!/bin/sh\n");
    struct Case {
        fs::perms mode;
        uint32_t posix;    // the mode in the high half, and read-only when no write bit is set
        uint32_t windows;  // the read-only attribute alone
    };
    const Case cases[] = {
        {fs::perms(0644), 0100644u << 16, 0},
        {fs::perms(0755), 0100755u << 16, 0},
        {fs::perms(0444), 0100444u << 16 | platform::kAttrReadOnly, platform::kAttrReadOnly},
    };
    for (const Case& c : cases) {
        fs::permissions(Utf8Path(path), c.mode);
        const auto stamp = platform::StampOf(path);
        ASSERT_TRUE(stamp);
        // Windows keeps no Unix mode: 0644 and 0755 are one file there.
        EXPECT_EQ(stamp->attributes, kWindowsBuild ? c.windows : c.posix) << std::oct << static_cast<unsigned>(c.mode);
    }
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
        {"a symbolic link to a folder", dir + "linked", true},
        {"a device", "/dev/null", true},
    };
    // Wine fakes the making of links, so they are looked at on POSIX only.
    if (!kWindowsBuild) {
        ASSERT_TRUE(platform::CreateSymbolicLink("file.txt", dir + "link.txt"));
        ASSERT_TRUE(platform::CreateSymbolicLink("folder", dir + "linked"));
    }
    for (const Case& c : cases) {
        if (c.posixOnly && kWindowsBuild) continue;
        EXPECT_EQ(platform::StampOf(c.path), std::nullopt) << c.what;
    }
}

TEST(FileStamp, TheClockCountsAsWriteAndChangeTimesDo) {
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
    EXPECT_LT(std::abs(stamp->changeTimeNs - before), kMinuteNs);
}

}  // namespace
