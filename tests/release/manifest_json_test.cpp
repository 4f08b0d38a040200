#include "release/manifest_json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>

using nlohmann::json;
using release::kMaxManifestBytes;
using release::ReadManifest;

namespace {

const std::string kHashA = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
const std::string kHashB = "ffeeddccbbaa99887766554433221100ffeeddccbbaa99887766554433221100";

json GoodManifest() {
    return json::parse(R"({
      "product": "Quendal",
      "version": "1.4.2",
      "published": "2026-12-11T09:00:00Z",
      "expires": "2027-01-10T09:00:00Z",
      "archive": { "name": "Quendal.zip", "length": 212345678,
                   "sha256": ")" + kHashA + R"(" },
      "entries": [
        { "name": "bin/Quendal.dll", "size": 1234567, "crc32": "89ABcdef",
          "sha256": ")" + kHashB + R"(", "offset": 0, "length": 456789,
          "made_by": 798, "attributes": 2175008768 },
        { "name": "Quendal.exe", "size": 0, "crc32": "00000000",
          "sha256": ")" + kHashA + R"(", "offset": 456789, "length": 9223372036854775807 }
      ],
      "later": "fields a later publisher adds are ignored"
    })");
}

TEST(ManifestJson, ReadsEveryFieldAndWritesWhatItReadsBack) {
    const release::ManifestReadResult read = ReadManifest(GoodManifest().dump());
    ASSERT_TRUE(read.manifest) << read.error;
    const release::ReleaseManifest& m = *read.manifest;
    EXPECT_EQ(m.product, "Quendal");
    EXPECT_EQ(m.version.Text(), "1.4.2");
    EXPECT_EQ(m.published.UnixSeconds(), 1796979600);
    EXPECT_EQ(m.expires.UnixSeconds() - m.published.UnixSeconds(), 30 * 86400);
    EXPECT_EQ(m.archive.name, "Quendal.zip");
    EXPECT_EQ(m.archive.length, 212345678u);
    EXPECT_EQ(m.archive.sha256[0], 0x00);
    EXPECT_EQ(m.archive.sha256[31], 0xff);
    ASSERT_EQ(m.entries.size(), 2u);
    EXPECT_EQ(m.entries[0].name, "bin/Quendal.dll");
    EXPECT_EQ(m.entries[0].size, 1234567u);
    EXPECT_EQ(m.entries[0].crc32, 0x89abcdefu);
    EXPECT_EQ(m.entries[0].sha256[0], 0xff);
    EXPECT_EQ(m.entries[0].offset, 0u);
    EXPECT_EQ(m.entries[0].length, 456789u);
    EXPECT_EQ(m.entries[0].versionMadeBy, 798u);
    EXPECT_EQ(m.entries[0].externalAttributes, 0x81A40000u);
    EXPECT_EQ(m.entries[1].length, 9223372036854775807u);
    // An earlier publisher's entry, without them.
    EXPECT_EQ(m.entries[1].versionMadeBy, 0u);
    EXPECT_EQ(m.entries[1].externalAttributes, 0u);

    // Written and read again, the same JSON comes out (hex in lower case).
    const std::string written = release::WriteManifest(m);
    const release::ManifestReadResult again = ReadManifest(written);
    ASSERT_TRUE(again.manifest) << again.error;
    EXPECT_EQ(release::WriteManifest(*again.manifest), written);
    json expected = GoodManifest();
    expected.erase("later");
    expected["entries"][0]["crc32"] = "89abcdef";
    expected["entries"][1]["made_by"] = 0;
    expected["entries"][1]["attributes"] = 0;
    EXPECT_EQ(json::parse(written), expected);
}

// One change to the good manifest: the value at a JSON pointer replaced, or
// the field removed when replacement is empty.
struct Refused {
    const char* pointer;
    std::optional<json> replacement;
    const char* errorNames;  // what the error must name
};

void PrintTo(const Refused& c, std::ostream* os) { *os << c.pointer << " -> " << c.errorNames; }

class ManifestRefused : public testing::TestWithParam<Refused> {};

TEST_P(ManifestRefused, NamesTheField) {
    const Refused& c = GetParam();
    json manifest = GoodManifest();
    const json::json_pointer pointer(c.pointer);
    if (c.replacement) {
        manifest[pointer] = *c.replacement;
    } else {
        manifest[pointer.parent_pointer()].erase(pointer.back());
    }
    const release::ManifestReadResult read = ReadManifest(manifest.dump());
    EXPECT_FALSE(read.manifest);
    EXPECT_NE(read.error.find(c.errorNames), std::string::npos) << read.error;
}

const std::optional<json> kRemoved;

INSTANTIATE_TEST_SUITE_P(Missing, ManifestRefused, testing::Values(
    Refused{"/product", kRemoved, "product is missing"},
    Refused{"/version", kRemoved, "version is missing"},
    Refused{"/published", kRemoved, "published is missing"},
    Refused{"/expires", kRemoved, "expires is missing"},
    Refused{"/archive", kRemoved, "archive is missing"},
    Refused{"/archive/name", kRemoved, "archive.name is missing"},
    Refused{"/archive/length", kRemoved, "archive.length is missing"},
    Refused{"/archive/sha256", kRemoved, "archive.sha256 is missing"},
    Refused{"/entries", kRemoved, "entries is missing"},
    Refused{"/entries/1/name", kRemoved, "entries[1].name is missing"},
    Refused{"/entries/1/size", kRemoved, "entries[1].size is missing"},
    Refused{"/entries/1/crc32", kRemoved, "entries[1].crc32 is missing"},
    Refused{"/entries/1/sha256", kRemoved, "entries[1].sha256 is missing"},
    Refused{"/entries/1/offset", kRemoved, "entries[1].offset is missing"},
    Refused{"/entries/1/length", kRemoved, "entries[1].length is missing"}));

INSTANTIATE_TEST_SUITE_P(WrongType, ManifestRefused, testing::Values(
    Refused{"/product", json(5), "product is not a string"},
    Refused{"/product", json(""), "product is empty"},
    Refused{"/version", json(1.4), "version is not a string"},
    Refused{"/published", json(1796979600), "published is not a string"},
    Refused{"/archive", json("Quendal.zip"), "archive is not an object"},
    Refused{"/archive/length", json("212345678"), "archive.length is not a non-negative integer"},
    Refused{"/entries", json::object(), "entries is not an array"},
    Refused{"/entries/0", json("bin/Quendal.dll"), "entries[0] is not an object"},
    Refused{"/entries/0/name", json(nullptr), "entries[0].name is not a string"},
    Refused{"/entries/0/size", json(true), "entries[0].size is not a non-negative integer"},
    Refused{"/entries/0/crc32", json(0x89abcdef), "entries[0].crc32 is not a string"},
    Refused{"/entries/0/sha256", json::array(), "entries[0].sha256 is not a string"},
    Refused{"/entries/0/made_by", json(-1), "entries[0].made_by is not a non-negative integer"},
    Refused{"/entries/0/made_by", json(65536), "entries[0].made_by is too large"},
    Refused{"/entries/0/attributes", json(4294967296), "entries[0].attributes is too large"}));

INSTANTIATE_TEST_SUITE_P(BadValue, ManifestRefused, testing::Values(
    Refused{"/version", json("1.2.x"), "version is not dotted integers"},
    Refused{"/version", json("v1.2"), "version is not dotted integers"},
    Refused{"/published", json("2026-12-11T09:00:00+00:00"), "published is not a UTC time"},
    Refused{"/published", json("2026-12-11 09:00:00Z"), "published is not a UTC time"},
    Refused{"/expires", json("2027-01-10T09:00:00.5Z"), "expires is not a UTC time"},
    Refused{"/expires", json("2027-02-29T09:00:00Z"), "expires is not a UTC time"},
    Refused{"/expires", json("2027-01-10T24:00:00Z"), "expires is not a UTC time"},
    Refused{"/expires", json("2027-01-10T09:00:60Z"), "expires is not a UTC time"},
    Refused{"/expires", json("2027-01-10t09:00:00z"), "expires is not a UTC time"},
    Refused{"/archive/sha256", json(kHashA.substr(1)), "archive.sha256 is not 64 hex digits"},
    Refused{"/archive/sha256", json(kHashA.substr(1) + "g"), "archive.sha256 is not 64 hex digits"},
    Refused{"/entries/0/crc32", json("9abcdef"), "entries[0].crc32 is not 8 hex digits"},
    Refused{"/entries/0/crc32", json("0x9abcde"), "entries[0].crc32 is not 8 hex digits"},
    Refused{"/entries/0/size", json(-1), "entries[0].size is not a non-negative integer"},
    Refused{"/entries/0/offset", json(1.5), "entries[0].offset is not a non-negative integer"},
    Refused{"/entries/0/length", json(9223372036854775808u), "entries[0].length is too large"},
    Refused{"/entries/0/name", json(""), "entries[0].name is empty"},
    Refused{"/entries/1/name", json("bin/Quendal.dll"), "bin/Quendal.dll is listed twice"}));

TEST(ManifestJson, RefusesWhatIsNoManifest) {
    const std::string good = GoodManifest().dump();
    for (const std::string& bytes : {std::string(), good.substr(0, good.size() - 1), std::string("[]"),
                                     // a name that is not UTF-8
                                     std::string(R"({"product": "Q\xff"})")}) {
        const release::ManifestReadResult read = ReadManifest(bytes);
        EXPECT_FALSE(read.manifest) << bytes;
        EXPECT_FALSE(read.error.empty());
    }
    // A number past 2^64, which the parser holds as floating point.
    std::string overflowing = good;
    overflowing.replace(overflowing.find("212345678"), 9, "18446744073709551616");
    EXPECT_NE(ReadManifest(overflowing).error.find("archive.length is not a non-negative integer"), std::string::npos);
}

TEST(ManifestJson, RefusesAManifestOverSixteenMebibytesBySizeAlone) {
    std::string manifest = GoodManifest().dump();
    manifest.resize(kMaxManifestBytes, ' ');  // trailing white space: still a good manifest
    EXPECT_TRUE(ReadManifest(manifest).manifest);
    manifest.push_back(' ');
    const release::ManifestReadResult read = ReadManifest(manifest);
    EXPECT_FALSE(read.manifest);
    EXPECT_EQ(read.error, "the manifest is larger than 16 MiB");
}

}  // namespace
