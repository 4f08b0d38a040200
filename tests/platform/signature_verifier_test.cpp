#include "platform/signature_verifier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>

#include "support/openssl_signer.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

void FlipByte(const fs::path& path, size_t offset) {
    std::string bytes = ReadFile(path);
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
    WriteFile(path, bytes);
}

// An archive signed by the publisher, then spoiled by each case after signing.
class SignatureVerifierTest : public ::testing::Test {
protected:
    static constexpr size_t kArchiveSize = 200 * 1024;  // several hashing pieces

    SignatureVerifierTest() : publisher_(folder_.path()) {
        WriteFile(archive_, RandomBytes(kArchiveSize, 1));
        publisher_.Sign(archive_, signature_);
    }

    bool Verifies() const { return platform::TSignatureVerifier(publisher_.PublicKeyPem()).Verifies(archive_, signature_); }

    TempFolder folder_;
    TOpenSslSigner publisher_;
    const fs::path archive_ = folder_ / "Quendal.zip";
    const fs::path signature_ = folder_ / "Quendal.zip.sig";
};

TEST_F(SignatureVerifierTest, AcceptsOnlyThePublishersSignatureOfTheseExactBytes) {
    struct Case {
        const char* name;
        std::function<void()> spoil;
        bool verifies;
    };
    const Case cases[] = {
        {"untouched", [] {}, true},
        {"first byte changed", [&] { FlipByte(archive_, 0); }, false},
        {"middle byte changed", [&] { FlipByte(archive_, kArchiveSize / 2); }, false},
        {"last byte changed", [&] { FlipByte(archive_, kArchiveSize - 1); }, false},
        {"archive one byte short", [&] { fs::resize_file(archive_, kArchiveSize - 1); }, false},
        {"signed with another key",
         [&] { TOpenSslSigner(folder_.path(), "intruder").Sign(archive_, signature_); }, false},
        {"signature of another file",
         [&] {
             WriteFile(folder_ / "other.zip", RandomBytes(1000, 2));
             publisher_.Sign(folder_ / "other.zip", signature_);
         },
         false},
        {"empty signature", [&] { WriteFile(signature_, ""); }, false},
        {"signature one byte short", [&] { fs::resize_file(signature_, fs::file_size(signature_) - 1); }, false},
        {"signature not DER", [&] { WriteFile(signature_, RandomBytes(64, 3)); }, false},
        {"404 page as signature",
         [&] { WriteFile(signature_, "<html><head><title>404 Not Found</title></head></html>\n"); }, false},
        {"no signature file", [&] { fs::remove(signature_); }, false},
        {"no archive file", [&] { fs::remove(archive_); }, false},
    };
    for (const Case& c : cases) {
        WriteFile(archive_, RandomBytes(kArchiveSize, 1));
        publisher_.Sign(archive_, signature_);
        c.spoil();
        EXPECT_EQ(Verifies(), c.verifies) << c.name;
    }
}

TEST_F(SignatureVerifierTest, RefusesKeysThatAreNotP256PublicKeys) {
    const TOpenSslSigner otherCurve(folder_.path(), "p384", "secp384r1");
    otherCurve.Sign(archive_, signature_);
    struct Case {
        const char* name;
        std::string pem;
    };
    const Case cases[] = {
        {"P-384 key that made the signature", otherCurve.PublicKeyPem()},
        {"empty key", ""},
        {"not PEM", "public key"},
        {"private key", ReadFile(folder_ / "p384-private.pem")},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(platform::TSignatureVerifier(c.pem).Verifies(archive_, signature_)) << c.name;
}

}  // namespace
