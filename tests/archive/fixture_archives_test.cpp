// Archives written by independent tools extract to the bytes their manifest
// records: stored, Shrink, Reduce, Implode, Deflate and Deflate64 entries,
// enciphered or not, with data descriptors and Zip64 fields; entries of other
// methods (bzip2, LZMA, later ones) are refused, each with its own report.

#include <gtest/gtest.h>

#include <filesystem>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "archive/format/error_codes.h"
#include "archive/unzip.h"
#include "frame_test_support.h"
#include "sha256.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct ManifestLine {
    std::string entry;
    int method = 0;
    uint64_t size = 0;
    std::string sha256;
};

// The lines of one archive in the MANIFEST.tsv of its fixture folder.
std::vector<ManifestLine> ReadManifest(const std::string& folder, const std::string& archive) {
    std::ifstream in(folder + "MANIFEST.tsv");
    std::vector<ManifestLine> lines;
    std::string text;
    std::getline(in, text);  // the header
    while (std::getline(in, text)) {
        std::vector<std::string> fields;
        std::stringstream row(text);
        for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
        if (fields.size() < 8 || fields[0] != archive) continue;
        lines.push_back({fields[1], std::stoi(fields[2]), std::stoull(fields[5]), fields[7]});
    }
    return lines;
}

bool HasDecoder(int method) { return (method >= 0 && method <= 6) || method == 8 || method == 9; }

using FixtureArchive = std::tuple<const char*, const char*>;  // (fixture folder, archive)

class FixtureArchives : public ::testing::TestWithParam<FixtureArchive> {};

TEST_P(FixtureArchives, EntriesMatchTheManifest) {
    const auto [folderName, archive] = GetParam();
    const std::string folder = std::string(QUENDAL_TEST_FIXTURES) + "/" + folderName + "/";
    const std::vector<ManifestLine> expected = ReadManifest(folder, archive);
    ASSERT_FALSE(expected.empty());

    const TempFolder targetFolder;
    const std::string target = targetFolder.str() + "/";
    TUnZip unzip;
    unzip.SetArchiveFile(folder + archive);
    unzip.SetFileSpec({"*"});
    unzip.SetExtractDir(target);
    unzip.SetPasswords({"zipfixtures"});
    std::map<std::string, bool> verdicts;
    unzip.OnEnd = [&](TObject*, const std::string& file, bool pass) {
        verdicts[frame_test::SlashPath(file).substr(target.size())] = pass;
    };
    std::vector<int32_t> errors;
    unzip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
        errors.push_back(code);
    };
    unzip.ExtractFiles();

    size_t refused = 0;
    for (const ManifestLine& line : expected) {
        SCOPED_TRACE(line.entry);
        if (HasDecoder(line.method)) {
            EXPECT_TRUE(verdicts[line.entry]);
            EXPECT_EQ(fs::file_size(target + line.entry), line.size);
            EXPECT_EQ(extract_test::Sha256Hex(frame_test::ReadFile(target + line.entry)), line.sha256);
        } else {
            EXPECT_FALSE(verdicts[line.entry]);
            ++refused;
        }
    }
    EXPECT_EQ(errors, std::vector<int32_t>(refused, ErrorCode::UnsupportedMethod));
}

// The archive's name without ".zip", other characters than letters and digits as "_".
std::string TestName(const ::testing::TestParamInfo<FixtureArchive>& info) {
    std::string name = std::get<1>(info.param);
    name.resize(name.size() - 4);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::vector<FixtureArchive> Archives(const char* folder, std::initializer_list<const char*> names) {
    std::vector<FixtureArchive> archives;
    for (const char* name : names) archives.emplace_back(folder, name);
    return archives;
}

INSTANTIATE_TEST_SUITE_P(
    Extract, FixtureArchives,
    ::testing::ValuesIn(Archives(
        "extract", {"bla.zip", "bla-stored.zip", "compress-380.zip", "compress-380-dd.zip",
                    "compress-380-readbeyondmemory.zip", "lorem-ipsum-deflate64.zip", "7zip-deflate64.zip",
                    "7zip-zipcrypto-deflate.zip", "7zip-zipcrypto-deflate64.zip", "7zip-zipcrypto-stored.zip",
                    "infozip-deflate-stream.zip", "infozip-zipcrypto.zip", "infozip-zipcrypto-stream.zip",
                    "infozip-zip64.zip", "python-zip64.zip", "compress-228.zip", "moby.zip"})),
    TestName);

INSTANTIATE_TEST_SUITE_P(
    Legacy, FixtureArchives,
    ::testing::ValuesIn(Archives(
        "legacy", {"shrunk.zip", "zipada-shrink.zip", "zipada-shrink-zipcrypto.zip", "zipada-reduce1.zip",
                   "zipada-reduce2.zip", "zipada-reduce3.zip", "zipada-reduce4.zip", "zipada-reduce4-zipcrypto.zip",
                   "many_formats.zip", "imploding-4kdict-2trees.zip", "imploding-8kdict-3trees.zip",
                   "lorem-ipsum-implode.zip", "moby-imploded.zip"})),
    TestName);

}  // namespace
