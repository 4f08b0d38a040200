#include "release/manifest_json.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "support/file_bytes.h"
#include "support/temp_folder.h"

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
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

}  // namespace
