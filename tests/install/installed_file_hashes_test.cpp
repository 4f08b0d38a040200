// The installed files' hash cache on a real program folder: a later run
// reads only what changed, also when the write time was put back; a damaged
// or planted cache is never believed beyond the stamp of the file it names;
// and an installed file equals a manifest entry only in kind, bytes and mode.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "faulty_file_system.h"
#include "install/installed_file_hashes.h"
#include "manifest_entries.h"
#include "platform/file_attributes.h"
#include "platform/file_times.h"
#include "platform/safe_path.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace fs = std::filesystem;

namespace {

using Digest = platform::Sha256Digest;

Digest FromHex(const std::string& hex) {
    Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return digest;
}

// Known answers, so that a digest is checked against more than the code under test.
const Digest kAbc = FromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
const Digest kAbd = FromHex("a52d159f262b2c6ddb724a61840befc36eb30c88877a4030b65cbe86298449c9");
const Digest kEmpty = FromHex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
const Digest kAbcd = FromHex("88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589");

// Counts the files read for their digest; `duringRead` runs before each read.
class TCountingFileSystem : public TFaultyFileSystem {
public:
    int reads = 0;
    std::function<void(const std::string&)> duringRead;

    std::optional<Digest> Sha256(const std::string& path) override {
        ++reads;
        if (duringRead) duringRead(path);
        return TFaultyFileSystem::Sha256(path);
    }
};

fs::path Utf8Path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// Long settled: an hour-old write time would do; a fixed one is exact.
constexpr platform::UtcFileTime kOldTime{1'700'000'000, 0};

// File systems take their change times from a clock that moves in ticks (a
// few ms): a change after this lands in another.
void WaitPastAClockTick() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

const std::string kHeader = "quendal installed-file hashes 2\n";
const std::string kAbcHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

class InstalledFileHashesTest : public ::testing::Test {
protected:
    std::string Program() const { return program_.str() + platform::kPathSeparator; }
    TUpdateFolder Folder() const { return {Program()}; }
    std::string PathOf(const std::string& name) const { return Program() + NativeRelativePath(name); }

    void Put(const std::string& name, const std::string& bytes, platform::UtcFileTime time = kOldTime) {
        test_files::WriteFile(Utf8Path(PathOf(name)), bytes);
        ASSERT_TRUE(platform::SetPathWriteTimeUtc(PathOf(name), time));
    }

    // One run: asks for each name, then saves; the digests it answered.
    std::vector<std::optional<Digest>> Run(const std::vector<std::string>& names) {
        TInstalledFileHashes hashes(files_, Folder());
        std::vector<std::optional<Digest>> digests;
        for (const std::string& name : names) digests.push_back(hashes.DigestOf(name));
        EXPECT_TRUE(hashes.Save());
        return digests;
    }

    // The reads a fresh run makes for `name`, and its answer.
    int ReadsFor(const std::string& name, std::optional<Digest>* digest = nullptr) {
        files_.reads = 0;
        const auto answer = Run({name}).front();
        if (digest) *digest = answer;
        return files_.reads;
    }

    platform::FileStamp StampOf(const std::string& name) const {
        const auto stamp = platform::StampOf(PathOf(name));
        EXPECT_TRUE(stamp) << name;
        return stamp.value_or(platform::FileStamp{});
    }

    // The fields of a cache line between the digest and the name, as the
    // file at `name` has them now.
    std::string StampFields(const std::string& name) const {
        const platform::FileStamp stamp = StampOf(name);
        return " " + std::to_string(stamp.size) + " " + std::to_string(stamp.writeTimeNs) + " " +
               std::to_string(stamp.changeTimeNs) + " " + std::to_string(stamp.volume) + " " +
               std::to_string(stamp.fileId) + " " + std::to_string(stamp.attributes) + " ";
    }

    std::string CacheText() const { return test_files::ReadAll(Utf8Path(Folder().Hashes())); }
    void SetCacheText(const std::string& text) const { test_files::WriteFile(Utf8Path(Folder().Hashes()), text); }

    TempFolder program_{"quendal-hashes"};
    TCountingFileSystem files_;
};

TEST_F(InstalledFileHashesTest, ALaterRunAnswersFromTheCacheWithoutReadingAFile) {
    const std::vector<std::string> names = {"Quendal.exe", "data/table.bin", "글꼴/나눔 고딕 Bold.ttf"};
    Put(names[0], "abc");
    Put(names[1], "");
    Put(names[2], "abd");
    const std::vector<std::optional<Digest>> expected = {kAbc, kEmpty, kAbd};

    EXPECT_EQ(Run(names), expected);
    EXPECT_EQ(files_.reads, 3);
    files_.reads = 0;
    EXPECT_EQ(Run(names), expected);
    EXPECT_EQ(files_.reads, 0);
    // Asked twice in one run, a file is read once.
    TInstalledFileHashes hashes(files_, Folder());
    Put("new.txt", "abcd");
    EXPECT_EQ(hashes.DigestOf("new.txt"), kAbcd);
    EXPECT_EQ(hashes.DigestOf("new.txt"), kAbcd);
    EXPECT_EQ(files_.reads, 1);
}

TEST_F(InstalledFileHashesTest, AChangedStampIsReadAgainAndAnUnchangedOneIsBelieved) {
    struct Case {
        const char* what;
        std::function<void()> change;
        int reads;
        Digest digest;
    };
    // The last two leave size and write time as they were, as an extractor
    // writing a release of fixed dates does: the change time and the file's
    // identity tell them.
    const Case cases[] = {
        {"nothing done", [] {}, 0, kAbc},
        {"the same bytes written again later", [&] { Put("file.bin", "abc", {kOldTime.seconds + 1, 0}); }, 1, kAbc},
        {"a write time a nanosecond later", [&] { Put("file.bin", "abc", {kOldTime.seconds, 100}); }, 1, kAbc},
        {"one more byte, the write time set back", [&] { Put("file.bin", "abcd"); }, 1, kAbcd},
        {"other bytes of the same size written in place, the write time set back",
         [&] { Put("file.bin", "abd"); }, 1, kAbd},
        {"other bytes of the same size in a new file renamed over it, the write time set back",
         [&] {
             Put("file.new", "abd");
             fs::rename(Utf8Path(PathOf("file.new")), Utf8Path(PathOf("file.bin")));
         },
         1, kAbd},
    };
    for (const Case& c : cases) {
        Put("file.bin", "abc");
        ASSERT_EQ(ReadsFor("file.bin"), 1) << c.what;
        WaitPastAClockTick();
        c.change();
        std::optional<Digest> digest;
        EXPECT_EQ(ReadsFor("file.bin", &digest), c.reads) << c.what;
        EXPECT_EQ(digest, c.digest) << c.what;
        fs::remove(Utf8Path(Folder().Hashes()));
    }
}

TEST_F(InstalledFileHashesTest, AFileWrittenJustNowIsReadAgainNextTime) {
    // Its write time could stay the same through one more write in the same tick.
    const platform::UtcFileTime now{platform::CurrentFileTimeNs() / 1'000'000'000, 0};
    const platform::UtcFileTime future{now.seconds + 3600, 0};
    for (const platform::UtcFileTime time : {now, future}) {
        Put("fresh.txt", "abc", time);
        EXPECT_EQ(ReadsFor("fresh.txt"), 1);
        EXPECT_EQ(ReadsFor("fresh.txt"), 1);
    }
    TInstalledFileHashes hashes(files_, Folder());
    hashes.Remember("fresh.txt", StampOf("fresh.txt"), kAbc);
    ASSERT_TRUE(hashes.Save());
    EXPECT_EQ(ReadsFor("fresh.txt"), 1);
}

TEST_F(InstalledFileHashesTest, AFileChangedWhileItIsReadHasNoDigest) {
    Put("growing.log", "abc");
    files_.duringRead = [&](const std::string&) { Put("growing.log", "abcd", {kOldTime.seconds + 5, 0}); };
    std::optional<Digest> digest;
    EXPECT_EQ(ReadsFor("growing.log", &digest), 1);
    EXPECT_EQ(digest, std::nullopt);
    files_.duringRead = nullptr;
    EXPECT_EQ(ReadsFor("growing.log", &digest), 1);
    EXPECT_EQ(digest, kAbcd);
}

TEST_F(InstalledFileHashesTest, NothingButARegularFileOfTheProgramFolderHasADigest) {
    Put("file.txt", "abc");
    Put("sub/inner.txt", "abc");
    fs::create_directories(Utf8Path(PathOf("folder")));
    // Links are made on POSIX only: Wine fakes making them.
    if (!kWindowsBuild) {
        ASSERT_TRUE(platform::CreateSymbolicLink("file.txt", PathOf("link.txt")));
        ASSERT_TRUE(platform::CreateSymbolicLink("sub", PathOf("linked")));
        ASSERT_TRUE(platform::CreateSymbolicLink("/dev/null", PathOf("device")));
    }
    // A planted cache claims each of them, with the stamp of the file the
    // name would reach if it were followed.
    std::string cache = kHeader;
    enum class Only { None, Posix, Windows };
    struct Case {
        const char* what;
        std::string name;
        Only only;
        std::string reaches = "file.txt";
    };
    const Case cases[] = {
        {"a missing file", "missing.txt", Only::None},
        {"a folder", "folder", Only::None},
        {"a path below a file", "file.txt/x", Only::None},
        {"a climbing name", "sub/../file.txt", Only::None},
        {"a name out of the folder", "../file.txt", Only::None},
        {"an absolute name", "/file.txt", Only::None},
        {"an empty part", "sub//inner.txt", Only::None, "sub/inner.txt"},
        {"the updater's own folder", ".quendal-update/hashes", Only::None},
        {"a link to a file", "link.txt", Only::Posix},
        {"a file in a linked folder", "linked/inner.txt", Only::Posix, "sub/inner.txt"},
        {"a link to a device", "device", Only::Posix},
        // A separator there, not a character of a name.
        {"a backslash", "sub\\inner.txt", Only::Windows, "sub/inner.txt"},
    };
    for (const Case& c : cases) cache += kAbcHex + StampFields(c.reaches) + c.name + "\n";
    SetCacheText(cache);
    TInstalledFileHashes hashes(files_, Folder());
    for (const Case& c : cases) {
        if (c.only == (kWindowsBuild ? Only::Posix : Only::Windows)) continue;
        EXPECT_EQ(hashes.DigestOf(c.name), std::nullopt) << c.what;
        hashes.Remember(c.name, StampOf(c.reaches), kAbc);
    }
    EXPECT_EQ(files_.reads, 0);
    ASSERT_TRUE(hashes.Save());
    EXPECT_EQ(CacheText(), kHeader);
}

TEST_F(InstalledFileHashesTest, ADamagedCacheIsBelievedOnlyInItsWholeLines) {
    Put("file.txt", "abc");
    Put("other.txt", "abd");
    const std::string good = kAbcHex + StampFields("file.txt") + "file.txt\n";
    // Each damaged line claims abc for other.txt (which holds abd) with its
    // true stamp, one field spoilt: a reader that took it would answer wrongly.
    const platform::FileStamp other = StampOf("other.txt");
    const std::vector<std::string> fields = {kAbcHex,
                                             std::to_string(other.size),
                                             std::to_string(other.writeTimeNs),
                                             std::to_string(other.changeTimeNs),
                                             std::to_string(other.volume),
                                             std::to_string(other.fileId),
                                             std::to_string(other.attributes)};
    const auto line = [](const std::vector<std::string>& parts, const std::string& name) {
        std::string text;
        for (const std::string& part : parts) text += part + " ";
        return text + name + "\n";
    };
    const auto spoilt = [&](size_t field, const std::string& as) {
        std::vector<std::string> parts = fields;
        parts[field] = as;
        return line(parts, "other.txt");
    };
    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    struct Case {
        const char* what;
        std::string text;
        bool fileBelieved;
        Digest otherAnswer = kAbd;
    };
    const Case cases[] = {
        {"whole", kHeader + good, true},
        // What a planted cache may do, and what shows the claims above are
        // refused for their spoilt field alone.
        {"a whole claim of the true stamp", kHeader + good + line(fields, "other.txt"), true, kAbc},
        {"the earlier format",
         "quendal installed-file hashes 1\n" + kAbcHex + " 3 " + std::to_string(StampOf("file.txt").writeTimeNs) +
             " file.txt\n",
         false},
        {"another header", "quendal installed-file hashes 3\n" + good, false},
        {"no header", good, false},
        {"empty", "", false},
        {"over its limit", kHeader + good + std::string(TInstalledFileHashes::kMaxBytes, '#'), false},
        {"cut off in its last line", kHeader + good.substr(0, good.size() - 1), false},
        {"garbage lines around", kHeader + "\n#\n \n" + good + "x y z w\n", true},
        {"upper-case digits", kHeader + good + spoilt(0, upper), true},
        {"a short digest", kHeader + good + spoilt(0, kAbcHex.substr(2)), true},
        {"a long digest", kHeader + good + spoilt(0, kAbcHex + "00"), true},
        {"a size past 64 bits", kHeader + good + spoilt(1, "18446744073709551619"), true},
        {"a write time past 64 bits", kHeader + good + spoilt(2, "20146744073709551616"), true},
        {"a change time with a tail", kHeader + good + spoilt(3, fields[3] + "x"), true},
        {"a volume with a sign", kHeader + good + spoilt(4, "+" + fields[4]), true},
        {"a file id past 64 bits", kHeader + good + spoilt(5, "18446744073709551616"), true},
        {"attributes past 32 bits", kHeader + good + spoilt(6, std::to_string(other.attributes + (uint64_t{1} << 32))),
         true},
        {"a field missing", kHeader + good + line({fields.begin(), fields.end() - 1}, "other.txt"), true},
        {"two spaces", kHeader + good + spoilt(2, ""), true},
        {"a carriage return", kHeader + good + line(fields, "other.txt\r"), true},
    };
    for (const Case& c : cases) {
        SetCacheText(c.text);
        TInstalledFileHashes hashes(files_, Folder());
        files_.reads = 0;
        EXPECT_EQ(hashes.DigestOf("file.txt"), kAbc) << c.what;
        EXPECT_EQ(hashes.DigestOf("other.txt"), c.otherAnswer) << c.what;
        EXPECT_EQ(files_.reads, (c.fileBelieved ? 0 : 1) + (c.otherAnswer == kAbc ? 0 : 1)) << c.what;
    }
}

TEST_F(InstalledFileHashesTest, OnlyTheFileThatWasCheckedIsRememberedAndUnusedNamesDropOut) {
    Put("staged.exe", "abc");
    Put("replaced.dll", "abc");
    Put("kept.txt", "abd");
    Put("dropped.txt", "abcd");
    Run({"kept.txt", "dropped.txt"});
    {
        // The install read these files' bytes as they stood in the stage.
        const platform::FileStamp staged = StampOf("staged.exe");
        const platform::FileStamp replaced = StampOf("replaced.dll");
        WaitPastAClockTick();
        // Moved into place the file is the one read, its change time moved.
        fs::rename(Utf8Path(PathOf("staged.exe")), Utf8Path(PathOf("installed.exe")));
        // Replaced by other bytes of its size and date, it is another file.
        Put("replaced.new", "abd");
        fs::rename(Utf8Path(PathOf("replaced.new")), Utf8Path(PathOf("replaced.dll")));

        TInstalledFileHashes hashes(files_, Folder());
        hashes.Remember("installed.exe", staged, kEmpty);  // the cache takes the checker's word unread
        hashes.Remember("replaced.dll", replaced, kAbc);
        hashes.Remember("missing.exe", staged, kEmpty);
        EXPECT_EQ(hashes.DigestOf("kept.txt"), kAbd);
        ASSERT_TRUE(hashes.Save());
    }
    const std::string text = CacheText();
    EXPECT_EQ(text.find("dropped.txt"), std::string::npos);
    EXPECT_EQ(text.find("missing.exe"), std::string::npos);
    EXPECT_EQ(text.find("replaced.dll"), std::string::npos);
    files_.reads = 0;
    EXPECT_EQ(Run({"installed.exe", "kept.txt"}), (std::vector<std::optional<Digest>>{kEmpty, kAbd}));
    EXPECT_EQ(files_.reads, 0);
    std::optional<Digest> digest;
    EXPECT_EQ(ReadsFor("replaced.dll", &digest), 1);
    EXPECT_EQ(digest, kAbd);
    EXPECT_EQ(ReadsFor("dropped.txt"), 1);
}

TEST_F(InstalledFileHashesTest, ClearedTheCacheIsGoneAndEveryFileIsReadAgain) {
    Put("file.txt", "abc");
    Run({"file.txt"});
    ASSERT_EQ(ReadsFor("file.txt"), 0);
    EXPECT_TRUE(TInstalledFileHashes::Clear(files_, Folder()));
    EXPECT_FALSE(fs::exists(Utf8Path(Folder().Hashes())));
    EXPECT_TRUE(TInstalledFileHashes::Clear(files_, Folder()));  // none there is none left
    EXPECT_EQ(ReadsFor("file.txt"), 1);
}

TEST_F(InstalledFileHashesTest, ASaveThatFailsLeavesTheLastCacheWhole) {
    Put("file.txt", "abc");
    Run({"file.txt"});
    const std::string saved = CacheText();
    using Kind = TFaultyFileSystem::Kind;
    for (const Kind kind : {Kind::Write, Kind::Flush, Kind::Move}) {
        TInstalledFileHashes hashes(files_, Folder());
        Put("file.txt", "abd", {kOldTime.seconds + 1, 0});
        hashes.DigestOf("file.txt");
        files_.kind = kind;
        files_.at = 1;
        files_.seen = 0;
        EXPECT_FALSE(hashes.Save());
        files_.kind = Kind::None;
        EXPECT_EQ(CacheText(), saved);
        EXPECT_FALSE(fs::exists(Utf8Path(Folder().Hashes() + ".new")));
        Put("file.txt", "abc");
    }
}

TEST_F(InstalledFileHashesTest, AnInstalledFileMatchesAnEntryInKindBytesAndMode) {
    const std::string library = "\x7f" "ELF library 1";
    Put("lib/libfoo.so.1", library);
    Put("notes.txt", "libfoo.so.1");
    Put("bin/tool.sh", "#!/bin/sh\n");
    fs::permissions(Utf8Path(PathOf("bin/tool.sh")), fs::perms(0755));
    Put("readonly.txt", "abc");
    fs::permissions(Utf8Path(PathOf("readonly.txt")), fs::perms(0444));
    fs::create_directories(Utf8Path(PathOf("share/fonts")));
    // Links are made on POSIX only: Wine fakes making them.
    if (!kWindowsBuild) {
        ASSERT_TRUE(platform::CreateSymbolicLink("libfoo.so.1", PathOf("lib/libfoo.so")));
        ASSERT_TRUE(platform::CreateSymbolicLink("share", PathOf("data")));
        ASSERT_TRUE(platform::CreateSymbolicLink("libgone.so.2", PathOf("lib/dangling.so")));
        ASSERT_TRUE(platform::CreateSymbolicLink("lib", PathOf("linked")));
    }
    constexpr std::optional<bool> kNotOnWindows;
    struct Case {
        const char* what;
        release::ManifestEntry entry;
        bool matches;
        std::optional<bool> onWindows;
    };
    const Case cases[] = {
        {"a link with the entry's target text", EntryOf("lib/libfoo.so", "libfoo.so.1", kUnixLink), true,
         kNotOnWindows},
        {"a link with another text of that size", EntryOf("lib/libfoo.so", "libfoo.so.2", kUnixLink), false,
         kNotOnWindows},
        {"a link to a folder", EntryOf("data", "share", kUnixLink), true, kNotOnWindows},
        {"a link leading nowhere", EntryOf("lib/dangling.so", "libgone.so.2", kUnixLink), true, kNotOnWindows},
        {"a link for a file entry of the linked file's bytes", EntryOf("lib/libfoo.so", library, kUnixFile), false,
         kNotOnWindows},
        {"a link for a file entry of the link's text", EntryOf("lib/libfoo.so", "libfoo.so.1", kUnixFile), false,
         kNotOnWindows},
        {"a link entry through a linked folder", EntryOf("linked/libfoo.so", "libfoo.so.1", kUnixLink), false,
         kNotOnWindows},
        {"a file through a linked folder", EntryOf("linked/libfoo.so.1", library, kUnixFile), false, kNotOnWindows},
        {"a file holding a link entry's text", EntryOf("notes.txt", "libfoo.so.1", kUnixLink), false, false},
        {"a file of the entry's bytes and mode", EntryOf("bin/tool.sh", "#!/bin/sh\n", kUnixProgram), true, true},
        // Windows keeps no Unix mode: there the two modes are one file.
        {"a file of the entry's bytes in another mode", EntryOf("bin/tool.sh", "#!/bin/sh\n", kUnixFile), false, true},
        {"a file of other bytes of its size", EntryOf("notes.txt", "libfoo.so.2", kUnixFile), false, false},
        {"a missing file", EntryOf("missing.txt", "", kUnixFile), false, false},
        {"a read-only file listed read-only", EntryOf("readonly.txt", "abc", 0, platform::kAttrReadOnly), true, true},
        {"a read-only file listed writable", EntryOf("readonly.txt", "abc", 0, 0x20), false, false},
        {"a writable file listed read-only", EntryOf("notes.txt", "libfoo.so.1", 0, platform::kAttrReadOnly), false,
         false},
        {"a read-only file listed read-only, made on Unix", EntryOf("readonly.txt", "abc", 0100444), true, true},
    };
    TInstalledFileHashes hashes(files_, Folder());
    for (const Case& c : cases) {
        if (kWindowsBuild && !c.onWindows) continue;
        EXPECT_EQ(hashes.Matches(c.entry), kWindowsBuild ? *c.onWindows : c.matches) << c.what;
    }
}

}  // namespace
