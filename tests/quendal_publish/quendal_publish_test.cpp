#include "release/manifest_json.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/file_bytes.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace fs = std::filesystem;

namespace {

using test_files::ReadAll;
using test_files::WriteFile;

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// Exit status of a shell command; its output is kept in output when asked for.
int RunShell(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::string text;
    char buffer[4096];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, got);
    const int status = pclose(pipe);
    if (output) *output = text;
#ifdef _WIN32
    return status;  // the command's own exit status there
#else
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string Hex(const release::Sha256Digest& digest) {
    std::string text;
    char pair[3];
    for (uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string Sha256Hex(const fs::path& file) {
    std::string output;
    EXPECT_EQ(RunShell("sha256sum " + Quoted(file), &output), 0);
    return output.substr(0, 64);
}

// A release folder zipped with the zip tool: deflated files, a stored one, an
// empty one, a folder entry and an entry read from standard input. And a
// publisher's key pair.
class QuendalPublish : public testing::Test {
protected:
    void SetUp() override {
        std::string dll;
        for (int i = 0; i < 40000; ++i) dll += std::to_string(i * 7919 % 10007) + ",";
        files_ = {{"bin/Quendal.dll", dll}, {"Quendal.exe", "MZ stand-in"}, {"empty.txt", ""}};
        for (const auto& [name, bytes] : files_) WriteFile(temp_ / "release" / name, bytes);
        fs::create_directories(temp_ / "release" / "docs");
        // Written to a pipe, zip cannot go back to fill in sizes: every file
        // entry gets a data descriptor, and the one read from standard input
        // a zip64 block with a descriptor of 8-byte sizes.
        ASSERT_EQ(RunShell("cd " + Quoted(temp_ / "release") + " && printf 'streamed notes' | zip -qr -n .exe - bin " +
                           "Quendal.exe empty.txt docs - | cat > " + Quoted(archive_)),
                  0);
        files_["-"] = "streamed notes";
        ASSERT_EQ(RunShell("openssl ecparam -name prime256v1 -genkey -noout -out " + Quoted(privateKey_) +
                      " && openssl ec -in " + Quoted(privateKey_) + " -pubout -out " + Quoted(publicKey_)),
                  0);
    }

    int Publish(const std::string& arguments, std::string* output = nullptr) {
        return RunShell(std::string(QUENDAL_PUBLISH_PROGRAM) + " --key " + Quoted(privateKey_) + " " + arguments + " " +
                       Quoted(archive_),
                   output);
    }

    TempFolder temp_{"quendal-publish-test"};
    fs::path archive_ = temp_ / "Quendal.zip";
    fs::path manifest_ = temp_ / "Quendal.zip.manifest";
    fs::path signature_ = temp_ / "Quendal.zip.manifest.sig";
    fs::path privateKey_ = temp_ / "private.pem";
    fs::path publicKey_ = temp_ / "public.pem";
    std::map<std::string, std::string> files_;  // entry name: its bytes
};

TEST_F(QuendalPublish, SignsAManifestOfTheWholeArchiveThatTheStockToolVerifies) {
    std::string output;
    ASSERT_EQ(Publish("--version 1.10.0 --expires-days 7 --product QuendalBeta", &output), 0) << output;

    const std::string verify = "openssl dgst -sha256 -verify " + Quoted(publicKey_) + " -signature " +
                               Quoted(signature_) + " " + Quoted(manifest_);
    EXPECT_EQ(RunShell(verify, &output), 0) << output;

    const std::string manifestBytes = ReadAll(manifest_);
    const release::ManifestReadResult read = release::ReadManifest(manifestBytes);
    ASSERT_TRUE(read.manifest) << read.error;
    const release::ReleaseManifest& m = *read.manifest;
    EXPECT_EQ(m.product, "QuendalBeta");
    EXPECT_EQ(m.version.Text(), "1.10.0");
    EXPECT_EQ(m.expires.UnixSeconds() - m.published.UnixSeconds(), 7 * 86400);
    EXPECT_EQ(m.archive.name, "Quendal.zip");
    const std::string archive = ReadAll(archive_);
    EXPECT_EQ(m.archive.length, archive.size());
    EXPECT_EQ(Hex(m.archive.sha256), Sha256Hex(archive_));

    // Every file entry, none twice; the folder entry carries no data.
    ASSERT_EQ(m.entries.size(), files_.size());
    for (const release::ManifestEntry& entry : m.entries) {
        SCOPED_TRACE(entry.name);
        ASSERT_EQ(files_.count(entry.name), 1u);
        const std::string& bytes = files_[entry.name];
        EXPECT_EQ(entry.size, bytes.size());
        EXPECT_EQ(entry.crc32, crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
        const fs::path source = entry.name == "-" ? temp_ / "streamed" : temp_ / "release" / entry.name;
        if (entry.name == "-") WriteFile(source, bytes);
        EXPECT_EQ(Hex(entry.sha256), Sha256Hex(source));
        // The extent starts at the entry's local header and ends where the
        // next header (local or central) begins: descriptor included.
        ASSERT_LE(entry.offset + entry.length + 4, archive.size());
        EXPECT_EQ(archive.substr(entry.offset, 4), "PK\x03\x04");
        EXPECT_EQ(archive.substr(entry.offset + 30, entry.name.size()), entry.name);
        const std::string next = archive.substr(entry.offset + entry.length, 4);
        EXPECT_TRUE(next == "PK\x03\x04" || next == "PK\x01\x02") << entry.offset + entry.length;
    }

    // The check above can fail: one byte changed in the manifest and the
    // stock tool refuses the signature.
    std::string changed = manifestBytes;
    changed[changed.find("QuendalBeta")] = 'q';
    WriteFile(manifest_, changed);
    EXPECT_NE(RunShell(verify, &output), 0) << output;
}

// A run that must refuse, write nothing, and say why.
struct RefusedRun {
    const char* name;
    std::string (*damage)(std::string archive);  // applied to the archive's bytes
    const char* arguments;
    int status;
    const char* says;
};

void PrintTo(const RefusedRun& c, std::ostream* os) { *os << c.name; }

class QuendalPublishRefuses : public QuendalPublish, public testing::WithParamInterface<RefusedRun> {};

TEST_P(QuendalPublishRefuses, AndWritesNothing) {
    const RefusedRun& c = GetParam();
    WriteFile(archive_, c.damage(ReadAll(archive_)));
    std::string output;
    EXPECT_EQ(Publish(c.arguments, &output), c.status);
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(manifest_));
    EXPECT_FALSE(fs::exists(signature_));
}

std::string Unchanged(std::string archive) { return archive; }

// One byte in the middle of the deflated data of bin/Quendal.dll, the first
// entry: it still decodes or fails to, but its CRC cannot match.
std::string FlipDataByte(std::string archive) {
    archive[archive.size() / 4] ^= 0x55;
    return archive;
}

// Cut in the middle of the last entry: no central directory remains.
std::string Truncate(std::string archive) { return archive.substr(0, archive.size() - 200); }

INSTANTIATE_TEST_SUITE_P(Runs, QuendalPublishRefuses, testing::Values(
    RefusedRun{"DamagedEntry", FlipDataByte, "--version 1.4.2", 1, "bin/Quendal.dll: CRC mismatch"},
    RefusedRun{"TruncatedArchive", Truncate, "--version 1.4.2", 1, "cannot be published"},
    RefusedRun{"VersionNotDottedIntegers", Unchanged, "--version 1.2.x", 2, "dotted integers"},
    RefusedRun{"NotAKey", Unchanged, "--version 1.4.2 --key /dev/null", 1, "no ECDSA P-256 private key"}),
    [](const testing::TestParamInfo<RefusedRun>& info) { return std::string(info.param.name); });

// An archive of stored entries made on Unix, each name stored byte for byte
// as given, which no archiver would write for some of them.
struct StoredEntry {
    std::string name;  // a folder's ends with '/'
    std::string data;
};

void PutLittleEndian(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
}

std::string StoredZip(const std::vector<StoredEntry>& entries) {
    std::string local, central;
    for (const StoredEntry& entry : entries) {
        const bool folder = entry.name.ends_with('/');
        const uint32_t crc =
            crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size()));
        // From the version needed to the name's length: what both headers share.
        std::string common;
        PutLittleEndian(common, 10, 2);                        // version 1.0 needed
        PutLittleEndian(common, 0, 2);                         // flags
        PutLittleEndian(common, 0, 2);                         // stored
        PutLittleEndian(common, 0, 2);                         // 00:00
        PutLittleEndian(common, (44 << 9) | (1 << 5) | 1, 2);  // 2024-01-01
        PutLittleEndian(common, crc, 4);
        PutLittleEndian(common, entry.data.size(), 4);
        PutLittleEndian(common, entry.data.size(), 4);
        PutLittleEndian(common, entry.name.size(), 2);
        const uint32_t offset = static_cast<uint32_t>(local.size());
        PutLittleEndian(local, 0x04034b50, 4);
        local += common;
        PutLittleEndian(local, 0, 2);
        local += entry.name + entry.data;
        PutLittleEndian(central, 0x02014b50, 4);
        PutLittleEndian(central, 0x031E, 2);  // made on Unix, version 3.0
        central += common;
        PutLittleEndian(central, 0, 2 + 2 + 2 + 2);
        PutLittleEndian(central, folder ? (040755u << 16 | 0x10) : 0100644u << 16, 4);
        PutLittleEndian(central, offset, 4);
        central += entry.name;
    }
    std::string archive = local + central;
    PutLittleEndian(archive, 0x06054b50, 4);
    PutLittleEndian(archive, 0, 4);
    PutLittleEndian(archive, entries.size(), 2);
    PutLittleEndian(archive, entries.size(), 2);
    PutLittleEndian(archive, central.size(), 4);
    PutLittleEndian(archive, local.size(), 4);
    PutLittleEndian(archive, 0, 2);
    return archive;
}

// A release whose entry names an updater would refuse, or would write over
// one another: what quendal-publish says of it.
struct RefusedNames {
    const char* name;
    std::vector<StoredEntry> entries;  // besides Quendal.exe, which comes first
    std::string says;
};

void PrintTo(const RefusedNames& c, std::ostream* os) { *os << c.name; }

class QuendalPublishRefusesNames : public QuendalPublish, public testing::WithParamInterface<RefusedNames> {};

TEST_P(QuendalPublishRefusesNames, NamingTheEntry) {
    const RefusedNames& c = GetParam();
    std::vector<StoredEntry> entries = {{"Quendal.exe", "MZ stand-in"}};
    entries.insert(entries.end(), c.entries.begin(), c.entries.end());
    WriteFile(archive_, StoredZip(entries));
    std::string output;
    EXPECT_EQ(Publish("--version 1.4.2", &output), 1) << output;
    EXPECT_NE(output.find("cannot be published: " + c.says), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(manifest_));
    EXPECT_FALSE(fs::exists(signature_));
}

const std::string kNotPlain = " is not a plain relative path below the program folder";
// Plain in every part, but more than the 4096 bytes a swap moves.
const std::string kLongName = std::string(2000, 'a') + "/" + std::string(2000, 'b') + "/" + std::string(200, 'c');

INSTANTIATE_TEST_SUITE_P(Names, QuendalPublishRefusesNames, testing::Values(
    RefusedNames{"LineBreak", {{"bin/line\nbreak.dll", "x"}}, "entry \"bin/line\\x0abreak.dll\"" + kNotPlain},
    RefusedNames{"Escape", {{"\x1b[2Jreadme.txt", "x"}}, "entry \"\\x1b[2Jreadme.txt\"" + kNotPlain},
    RefusedNames{"Delete", {{"readme\x7f.txt", "x"}}, "entry \"readme\\x7f.txt\"" + kNotPlain},
    RefusedNames{"ControlCharacterInAFolder", {{"data\x01/", ""}}, "entry \"data\\x01/\"" + kNotPlain},
    RefusedNames{"ParentFolder", {{"../Quendal.exe", "x"}}, "entry \"../Quendal.exe\"" + kNotPlain},
    RefusedNames{"ClimbsOutOfAFolder", {{"bin/../../evil.dll", "x"}}, "entry \"bin/../../evil.dll\"" + kNotPlain},
    RefusedNames{"DotPart", {{"bin/./a.dll", "x"}}, "entry \"bin/./a.dll\"" + kNotPlain},
    RefusedNames{"EmptyPart", {{"bin//a.dll", "x"}}, "entry \"bin//a.dll\"" + kNotPlain},
    RefusedNames{"Absolute", {{"/etc/cron.d/evil", "x"}}, "entry \"/etc/cron.d/evil\"" + kNotPlain},
    RefusedNames{"DrivePrefix", {{"C:evil.exe", "x"}}, "entry \"C:evil.exe\"" + kNotPlain},
    RefusedNames{"Stream", {{"Quendal.dll:hidden", "x"}}, "entry \"Quendal.dll:hidden\"" + kNotPlain},
    RefusedNames{"Backslash", {{"bin\\evil.dll", "x"}}, "entry \"bin/evil.dll\" (stored as \"bin\\x5cevil.dll\")" + kNotPlain},
    RefusedNames{"UpdatersFolder", {{".quendal-update/state.ini", "x"}}, "entry \".quendal-update/state.ini\"" + kNotPlain},
    RefusedNames{"UpdatersFolderInAnotherCase", {{".Quendal-Update/journal", "x"}}, "entry \".Quendal-Update/journal\"" + kNotPlain},
    RefusedNames{"UpdatersFolderItself", {{".quendal-update/", ""}}, "entry \".quendal-update/\"" + kNotPlain},
    RefusedNames{"LongerThanTheSwapMoves", {{kLongName, "x"}},
                 "entry \"" + kLongName + "\" is a path that the updater's install refuses to move"},
    RefusedNames{"WindowsDevice", {{"bin/con.txt", "x"}}, "entry \"bin/con.txt\" names a device on Windows"},
    RefusedNames{"WindowsDeviceFolder", {{"LPT1 /a.dll", "x"}}, "entry \"LPT1 /a.dll\" names a device on Windows"},
    RefusedNames{"Twice", {{"readme.txt", "a"}, {"readme.txt", "b"}}, "entry \"readme.txt\" is listed twice"},
    RefusedNames{"FolderTwice", {{"docs/", ""}, {"docs/", ""}}, "entry \"docs/\" is listed twice"},
    RefusedNames{"InAnotherCase", {{"readme.txt", "a"}, {"README.TXT", "b"}},
                 "entry \"readme.txt\" and entry \"README.TXT\" differ only in letter case"},
    RefusedNames{"QuendalExeInAnotherCase", {{"quendal.EXE", "b"}},
                 "entry \"Quendal.exe\" and entry \"quendal.EXE\" differ only in letter case"},
    RefusedNames{"FileThenFolder", {{"data", "a"}, {"data/video.bin", "b"}},
                 "entry \"data\" is a file, but entry \"data/video.bin\" makes a folder of that name"},
    RefusedNames{"FolderThenFile", {{"data/video.bin", "b"}, {"data", "a"}},
                 "entry \"data\" is a file, but entry \"data/video.bin\" makes a folder of that name"},
    RefusedNames{"FolderEntryAndFile", {{"data/", ""}, {"data", "a"}},
                 "entry \"data\" is a file, but entry \"data/\" makes a folder of that name"},
    RefusedNames{"FileAndFolderInAnotherCase", {{"Readme", "a"}, {"readme/en.txt", "b"}},
                 "entry \"Readme\" is a file, but entry \"readme/en.txt\" makes a folder of that name on Windows"}),
    [](const testing::TestParamInfo<RefusedNames>& info) { return std::string(info.param.name); });

TEST_F(QuendalPublish, TakesNamesThatDifferOnlyInTheirFolders) {
    // The same file name in two folders, a folder named in two letter cases
    // on the paths of two files, Hangul in UTF-8, and dots inside a name.
    WriteFile(archive_, StoredZip({{"Quendal.exe", "MZ"},
                                   {"bin/", ""},
                                   {"bin/readme.txt", "a"},
                                   {"docs/readme.txt", "b"},
                                   {"Lib/a.dll", "c"},
                                   {"lib/b.dll", "d"},
                                   {"\xEB\xAC\xB8\xEC\x84\x9C/\xEC\x95\x88\xEB\x82\xB4.txt", "e"},
                                   {"a..b/.hidden", "f"}}));
    std::string output;
    ASSERT_EQ(Publish("--version 1.4.2", &output), 0) << output;
    const release::ManifestReadResult read = release::ReadManifest(ReadAll(manifest_));
    ASSERT_TRUE(read.manifest) << read.error;
    EXPECT_EQ(read.manifest->entries.size(), 7u);
}

std::string Sha256HexOf(const std::string& bytes, const fs::path& scratch) {
    WriteFile(scratch, bytes);
    return Sha256Hex(scratch);
}

// A release with symbolic links, zipped as links (zip -y): a link to a file
// beside it and a link to a folder.
TEST_F(QuendalPublish, RecordsALinkAsALinkWithTheDigestOfItsTargetText) {
    SKIP_ON_WINDOWS("symbolic links need a privilege there, and Wine only pretends to make them");
    const fs::path release = temp_ / "linked";
    WriteFile(release / "lib/libfoo.so.1", "the library itself, whose digest a link must not take");
    fs::create_symlink("libfoo.so.1", release / "lib/libfoo.so");
    fs::create_symlink("lib", release / "lib64");
    fs::remove(archive_);
    ASSERT_EQ(RunShell("cd " + Quoted(release) + " && zip -qry " + Quoted(archive_) + " lib lib64"), 0);

    std::string output;
    ASSERT_EQ(Publish("--version 2.0.0", &output), 0) << output;
    const release::ManifestReadResult read = release::ReadManifest(ReadAll(manifest_));
    ASSERT_TRUE(read.manifest) << read.error;
    std::map<std::string, release::ManifestEntry> byName;
    for (const release::ManifestEntry& entry : read.manifest->entries) byName[entry.name] = entry;
    ASSERT_EQ(byName.size(), 3u);

    const struct {
        const char* name;
        const char* target;
    } links[] = {{"lib/libfoo.so", "libfoo.so.1"}, {"lib64", "lib"}};
    for (const auto& link : links) {
        SCOPED_TRACE(link.name);
        ASSERT_EQ(byName.count(link.name), 1u);
        const release::ManifestEntry& entry = byName[link.name];
        EXPECT_TRUE(entry.IsSymbolicLink());
        EXPECT_EQ(entry.versionMadeBy >> 8, release::ManifestEntry::kMadeOnUnix);
        EXPECT_EQ(entry.externalAttributes >> 16 & release::ManifestEntry::kTypeMask, release::ManifestEntry::kLinkType);
        EXPECT_EQ(entry.Permissions(), 0777u);
        EXPECT_EQ(entry.size, std::string(link.target).size());
        EXPECT_EQ(Hex(entry.sha256), Sha256HexOf(link.target, temp_ / "target-text"));
    }
    const release::ManifestEntry& library = byName["lib/libfoo.so.1"];
    EXPECT_FALSE(library.IsSymbolicLink());
    EXPECT_EQ(Hex(library.sha256), Sha256Hex(release / "lib/libfoo.so.1"));
    EXPECT_NE(Hex(byName["lib/libfoo.so"].sha256), Hex(library.sha256));
}

// A link whose target leads out of the program folder is refused, as every
// updater refuses it, and nothing is written where it points.
TEST_F(QuendalPublish, RefusesALinkLeadingOutOfTheProgramFolder) {
    SKIP_ON_WINDOWS("symbolic links need a privilege there, and Wine only pretends to make them");
    const fs::path release = temp_ / "linked";
    WriteFile(release / "Quendal.exe", "MZ");
    fs::create_symlink("../../../../../../../../etc/passwd", release / "passwd");
    fs::remove(archive_);
    ASSERT_EQ(RunShell("cd " + Quoted(release) + " && zip -qry " + Quoted(archive_) + " Quendal.exe passwd"), 0);

    std::string output;
    EXPECT_EQ(Publish("--version 2.0.0", &output), 1) << output;
    EXPECT_NE(output.find("entry \"passwd\" is a symbolic link to \"../../../../../../../../etc/passwd\", which leads "
                          "outside the program folder"),
              std::string::npos)
        << output;
    EXPECT_FALSE(fs::exists(manifest_));
    EXPECT_FALSE(fs::exists(signature_));
}

}  // namespace
