// The installed files' hash cache on a real program folder: a later run
// reads only what changed, and a damaged or planted cache is never believed
// beyond the stamp of the file it names.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "faulty_file_system.h"
#include "install/installed_file_hashes.h"
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
        std::string bytes;
        platform::UtcFileTime time;
        int reads;
        Digest digest;
    };
    const Case cases[] = {
        {"the same bytes written again later", "abc", {kOldTime.seconds + 1, 0}, 1, kAbc},
        {"a write time a nanosecond later", "abc", {kOldTime.seconds, 100}, 1, kAbc},
        {"one more byte, the write time set back", "abcd", kOldTime, 1, kAbcd},
        // What the cache may skip by design: new bytes of the same size under
        // the old write time, set back on purpose, are taken for the old ones.
        {"other bytes of the same size, the write time set back", "abd", kOldTime, 0, kAbc},
    };
    for (const Case& c : cases) {
        Put("file.bin", "abc");
        ASSERT_EQ(ReadsFor("file.bin"), 1) << c.what;
        Put("file.bin", c.bytes, c.time);
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
    hashes.Remember("fresh.txt", kAbc);
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
    // A planted cache claims each of them, with the stamp a file there would have.
    std::string cache = "quendal installed-file hashes 1\n";
    enum class Only { None, Posix, Windows };
    struct Case {
        const char* what;
        std::string name;
        Only only;
    };
    const Case cases[] = {
        {"a missing file", "missing.txt", Only::None},
        {"a folder", "folder", Only::None},
        {"a path below a file", "file.txt/x", Only::None},
        {"a climbing name", "sub/../file.txt", Only::None},
        {"a name out of the folder", "../file.txt", Only::None},
        {"an absolute name", "/file.txt", Only::None},
        {"an empty part", "sub//inner.txt", Only::None},
        {"the updater's own folder", ".quendal-update/hashes", Only::None},
        {"a link to a file", "link.txt", Only::Posix},
        {"a file in a linked folder", "linked/inner.txt", Only::Posix},
        {"a link to a device", "device", Only::Posix},
        // A separator there, not a character of a name.
        {"a backslash", "sub\\inner.txt", Only::Windows},
    };
    for (const Case& c : cases)
        cache += "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad 3 1700000000000000000 " + c.name + "\n";
    SetCacheText(cache);
    TInstalledFileHashes hashes(files_, Folder());
    for (const Case& c : cases) {
        if (c.only == (kWindowsBuild ? Only::Posix : Only::Windows)) continue;
        EXPECT_EQ(hashes.DigestOf(c.name), std::nullopt) << c.what;
        hashes.Remember(c.name, kAbc);
    }
    EXPECT_EQ(files_.reads, 0);
    ASSERT_TRUE(hashes.Save());
    EXPECT_EQ(CacheText(), "quendal installed-file hashes 1\n");
}

TEST_F(InstalledFileHashesTest, ADamagedCacheIsBelievedOnlyInItsWholeLines) {
    Put("file.txt", "abc");
    Put("other.txt", "abd");
    const std::string header = "quendal installed-file hashes 1\n";
    const std::string abcHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::string stamp = " 3 1700000000000000000 ";
    const std::string good = abcHex + stamp + "file.txt\n";
    // Each damaged line claims abc for other.txt (which holds abd) with its
    // true stamp: a reader that took it would answer wrongly.
    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    struct Case {
        const char* what;
        std::string text;
        bool fileBelieved;
    };
    const Case cases[] = {
        {"whole", header + good, true},
        {"another header", "quendal installed-file hashes 2\n" + good, false},
        {"no header", good, false},
        {"empty", "", false},
        {"over its limit", header + good + std::string(TInstalledFileHashes::kMaxBytes, '#'), false},
        {"cut off in its last line", header + good.substr(0, good.size() - 1), false},
        {"garbage lines around", header + "\n#\n \n" + good + "x y z w\n", true},
        {"upper-case digits", header + good + upper + stamp + "other.txt\n", true},
        {"a short digest", header + good + abcHex.substr(2) + stamp + "other.txt\n", true},
        {"a long digest", header + good + abcHex + "00" + stamp + "other.txt\n", true},
        {"a size past 64 bits", header + good + abcHex + " 18446744073709551619 1700000000000000000 other.txt\n", true},
        {"a time past 64 bits", header + good + abcHex + " 3 20146744073709551616 other.txt\n", true},
        {"a size with a sign", header + good + abcHex + " +3 1700000000000000000 other.txt\n", true},
        {"a time with a tail", header + good + abcHex + " 3 1700000000000000000x other.txt\n", true},
        {"two spaces", header + good + abcHex + " 3  1700000000000000000 other.txt\n", true},
        {"a carriage return", header + good + abcHex + stamp + "other.txt\r\n", true},
    };
    for (const Case& c : cases) {
        SetCacheText(c.text);
        TInstalledFileHashes hashes(files_, Folder());
        files_.reads = 0;
        EXPECT_EQ(hashes.DigestOf("file.txt"), kAbc) << c.what;
        EXPECT_EQ(hashes.DigestOf("other.txt"), kAbd) << c.what;
        EXPECT_EQ(files_.reads, c.fileBelieved ? 1 : 2) << c.what;
    }
}

TEST_F(InstalledFileHashesTest, RememberedDigestsAreTakenUnreadAndUnusedNamesDropOut) {
    Put("installed.exe", "abc");
    Put("kept.txt", "abd");
    Put("dropped.txt", "abcd");
    Run({"kept.txt", "dropped.txt"});
    {
        // The install checked the bytes it put there: the cache takes its word.
        TInstalledFileHashes hashes(files_, Folder());
        hashes.Remember("installed.exe", kEmpty);
        hashes.Remember("missing.exe", kEmpty);
        EXPECT_EQ(hashes.DigestOf("kept.txt"), kAbd);
        ASSERT_TRUE(hashes.Save());
    }
    const std::string text = CacheText();
    EXPECT_EQ(text.find("dropped.txt"), std::string::npos);
    EXPECT_EQ(text.find("missing.exe"), std::string::npos);
    files_.reads = 0;
    EXPECT_EQ(Run({"installed.exe", "kept.txt"}), (std::vector<std::optional<Digest>>{kEmpty, kAbd}));
    EXPECT_EQ(files_.reads, 0);
    EXPECT_EQ(ReadsFor("dropped.txt"), 1);
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

}  // namespace
