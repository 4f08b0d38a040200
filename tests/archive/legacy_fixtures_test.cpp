// Shrunk, reduced and imploded entries written by independent tools extract
// to the bytes their manifest records, enciphered ones included.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "frame_test_support.h"
#include "sha256.h"
#include "support/temp_folder.h"

namespace {

const std::string kFixtures = std::string(QUENDAL_TEST_FIXTURES) + "/legacy/";

struct ManifestLine {
    std::string archive, entry;
    int method = 0;
    bool encrypted = false;
    std::string sha256;
};

std::vector<ManifestLine> LegacyEntries(const std::string& archive) {
    std::ifstream in(kFixtures + "MANIFEST.tsv");
    std::vector<ManifestLine> lines;
    std::string text;
    std::getline(in, text);  // the header
    while (std::getline(in, text)) {
        std::vector<std::string> fields;
        std::stringstream row(text);
        for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
        if (fields.size() < 8 || fields[0] != archive) continue;
        const int method = std::stoi(fields[2]);
        if (method >= 1 && method <= 6) lines.push_back({fields[0], fields[1], method, fields[3] == "yes", fields[7]});
    }
    return lines;
}

class LegacyFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(LegacyFixture, EveryLegacyEntryExtractsByteForByte) {
    const std::string archive = GetParam();
    const std::vector<ManifestLine> expected = LegacyEntries(archive);
    ASSERT_FALSE(expected.empty());

    TempFolder target("quendal-legacy");
    const std::string root = target.str() + "/";
    TUnZip unzip;
    unzip.SetArchiveFile(kFixtures + archive);
    unzip.SetFileSpec({"*"});
    unzip.SetExtractDir(root);
    unzip.SetPasswords({"zipfixtures"});
    std::map<std::string, bool> verdicts;
    unzip.OnEnd = [&](TObject*, const std::string& file, bool pass) { verdicts[file.substr(root.size())] = pass; };
    std::vector<int32_t> errors;
    unzip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t code) {
        errors.push_back(code);
    };
    unzip.ExtractFiles();

    for (const ManifestLine& line : expected) {
        SCOPED_TRACE(line.entry);
        EXPECT_TRUE(verdicts[line.entry]);
        EXPECT_EQ(extract_test::Sha256Hex(frame_test::ReadFile(root + line.entry)), line.sha256);
    }
    // Other methods in the same archives (bzip2, LZMA) are still refused.
    for (int32_t code : errors) EXPECT_EQ(code, 25326);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, LegacyFixture,
    ::testing::Values("shrunk.zip", "zipada-shrink.zip", "zipada-shrink-zipcrypto.zip", "zipada-reduce1.zip",
                      "zipada-reduce2.zip", "zipada-reduce3.zip", "zipada-reduce4.zip",
                      "zipada-reduce4-zipcrypto.zip", "many_formats.zip", "imploding-4kdict-2trees.zip",
                      "imploding-8kdict-3trees.zip", "lorem-ipsum-implode.zip", "moby-imploded.zip"),
    [](const ::testing::TestParamInfo<std::string>& info) {
        std::string name = info.param.substr(0, info.param.size() - 4);
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

}  // namespace
