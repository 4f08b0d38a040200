// Archives written by independent tools extract to the bytes their manifest
// records: stored, Deflate and Deflate64 entries, enciphered or not, with
// data descriptors and Zip64 fields.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "frame_test_support.h"
#include "sha256.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct ManifestLine {
    std::string archive, entry;
    int method = 0;
    uint64_t size = 0;
    std::string sha256;
};

std::vector<ManifestLine> ReadManifest() {
    std::ifstream in(std::string(QUENDAL_TEST_FIXTURES) + "/extract/MANIFEST.tsv");
    std::vector<ManifestLine> lines;
    std::string text;
    std::getline(in, text);  // the header
    while (std::getline(in, text)) {
        std::vector<std::string> fields;
        std::stringstream row(text);
        for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
        if (fields.size() < 8) continue;
        lines.push_back({fields[0], fields[1], std::stoi(fields[2]), std::stoull(fields[5]), fields[7]});
    }
    return lines;
}

class ExtractFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(ExtractFixture, EntriesMatchTheManifest) {
    const std::string archive = GetParam();
    const TempFolder targetFolder;
    const std::string target = targetFolder.str() + "/";
    TUnZip unzip;
    unzip.SetArchiveFile(std::string(QUENDAL_TEST_FIXTURES) + "/extract/" + archive);
    unzip.SetFileSpec({"*"});
    unzip.SetExtractDir(target);
    unzip.SetPasswords({"zipfixtures"});
    std::map<std::string, bool> verdicts;
    unzip.OnEnd = [&](TObject*, const std::string& file, bool pass) { verdicts[frame_test::SlashPath(file).substr(target.size())] = pass; };
    std::vector<int32_t> errors;
    unzip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
        errors.push_back(code);
    };
    unzip.ExtractFiles();

    int checked = 0;
    for (const ManifestLine& line : ReadManifest()) {
        if (line.archive != archive) continue;
        SCOPED_TRACE(line.entry);
        ++checked;
        if (line.method == 0 || line.method == 8 || line.method == 9) {
            EXPECT_TRUE(verdicts[line.entry]);
            EXPECT_EQ(fs::file_size(target + line.entry), line.size);
            EXPECT_EQ(extract_test::Sha256Hex(frame_test::ReadFile(target + line.entry)), line.sha256);
        } else {
            EXPECT_FALSE(verdicts[line.entry]);
            EXPECT_EQ(errors, std::vector<int32_t>{25326});
        }
    }
    EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ExtractFixture,
    ::testing::Values("bla.zip", "bla-stored.zip", "compress-380.zip", "compress-380-dd.zip",
                      "compress-380-readbeyondmemory.zip", "lorem-ipsum-deflate64.zip", "7zip-deflate64.zip",
                      "7zip-zipcrypto-deflate.zip", "7zip-zipcrypto-deflate64.zip", "7zip-zipcrypto-stored.zip",
                      "infozip-deflate-stream.zip", "infozip-zipcrypto.zip", "infozip-zipcrypto-stream.zip",
                      "infozip-zip64.zip", "python-zip64.zip", "compress-228.zip", "moby.zip"),
    [](const ::testing::TestParamInfo<std::string>& info) {
        std::string name = info.param.substr(0, info.param.size() - 4);
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

}  // namespace
