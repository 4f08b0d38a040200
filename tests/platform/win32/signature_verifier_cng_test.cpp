#include "platform/signature_verifier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// Signatures made beforehand with `openssl dgst -sha256 -sign`: the openssl
// tool is not at hand in a Windows test. 70, 71 and 72 bytes long, so that r
// and s with and without a sign-keeping zero byte all pass through.
const fs::path kFixtures = fs::path(QUENDAL_TEST_FIXTURES) / "signature";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST(CngSignatureVerifier, AcceptsOnlyThePublishersSignatureOfTheseExactBytes) {
    const TempFolder folder("quendal-cng");
    const platform::TSignatureVerifier verifier(ReadFile(kFixtures / "publisher-public.pem"));
    const std::string archive = ReadFile(kFixtures / "archive.bin");
    std::string changed = archive;
    changed[changed.size() / 2] ^= 0x01;
    WriteFile(folder / "changed.bin", changed);
    WriteFile(folder / "short.bin", archive.substr(0, archive.size() - 1));
    const std::string good = ReadFile(kFixtures / "archive-71.sig");
    WriteFile(folder / "truncated.sig", good.substr(0, good.size() - 1));
    WriteFile(folder / "empty.sig", "");
    WriteFile(folder / "page.sig", "<html><head><title>404 Not Found</title></head></html>\n");
    std::string swapped = good;
    swapped[0] = 0x31;  // a SET in place of the SEQUENCE
    WriteFile(folder / "not-der.sig", swapped);

    struct Case {
        const char* name;
        fs::path file;
        fs::path signature;
        bool verifies;
    };
    const Case cases[] = {
        {"70-byte signature", kFixtures / "archive.bin", kFixtures / "archive-70.sig", true},
        {"71-byte signature", kFixtures / "archive.bin", kFixtures / "archive-71.sig", true},
        {"72-byte signature", kFixtures / "archive.bin", kFixtures / "archive-72.sig", true},
        {"middle byte changed", folder / "changed.bin", kFixtures / "archive-71.sig", false},
        {"archive one byte short", folder / "short.bin", kFixtures / "archive-71.sig", false},
        {"signed with another key", kFixtures / "archive.bin", kFixtures / "archive-other-key.sig", false},
        {"signature one byte short", kFixtures / "archive.bin", folder / "truncated.sig", false},
        {"empty signature", kFixtures / "archive.bin", folder / "empty.sig", false},
        {"404 page as signature", kFixtures / "archive.bin", folder / "page.sig", false},
        {"signature not DER", kFixtures / "archive.bin", folder / "not-der.sig", false},
        {"no signature file", kFixtures / "archive.bin", folder / "missing.sig", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(verifier.Verifies(c.file.string(), c.signature.string()), c.verifies) << c.name;
    EXPECT_FALSE(platform::TSignatureVerifier("").Verifies((kFixtures / "archive.bin").string(),
                                                          (kFixtures / "archive-71.sig").string()));
}

// A P-384 key pair made with `openssl ecparam -name secp384r1 -genkey`, and
// its signature of archive.bin: only a P-256 public key is taken.
TEST(CngSignatureVerifier, RefusesKeysThatAreNotP256PublicKeys) {
    struct Case {
        const char* name;
        std::string pem;
    };
    const Case cases[] = {
        {"P-384 key that made the signature", ReadFile(kFixtures / "p384-public.pem")},
        {"not PEM", "public key"},
        {"private key", ReadFile(kFixtures / "p384-private.pem")},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(platform::TSignatureVerifier(c.pem).Verifies((kFixtures / "archive.bin").string(),
                                                                  (kFixtures / "archive-p384.sig").string()))
            << c.name;
}

}  // namespace
