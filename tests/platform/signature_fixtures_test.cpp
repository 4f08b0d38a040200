// The signature check on both builds, with signatures made beforehand (the
// openssl tool cannot run in a Windows test): a signature has one DER
// encoding whichever build checks it, and the files are found in a folder
// named in Hangul.

#include "platform/signature_verifier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/file_bytes.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFixtures = fs::path(QUENDAL_TEST_FIXTURES);
const fs::path kSignatures = kFixtures / "signature";

using test_files::ReadAll;
using test_files::WriteFile;

// A path as the platform layer takes it: UTF-8, whatever the system's code page.
std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The two INTEGER contents of a DER signature (short-form lengths, as every
// P-256 signature has), and a signature built from two such contents.
struct Integers {
    std::string r, s;
};

Integers Split(const std::string& der) {
    const size_t rLength = static_cast<uint8_t>(der[3]);
    const size_t sAt = 4 + rLength;
    return {der.substr(4, rLength), der.substr(sAt + 2, static_cast<uint8_t>(der[sAt + 1]))};
}

std::string Join(const Integers& value) {
    std::string body;
    for (const std::string* integer : {&value.r, &value.s}) body += std::string{'\x02', static_cast<char>(integer->size())} + *integer;
    return std::string{'\x30', static_cast<char>(body.size())} + body;
}

TEST(SignatureFixtures, OnlyTheMinimalEncodingOfASignatureVerifies) {
    const TempFolder folder("quendal-der");
    const fs::path hostile = kFixtures / "hostile2" / "06-cng-noncanonical-der";
    // r and s of 32 bytes each, and both with the zero byte that keeps their
    // high bit from reading as a sign.
    const Integers narrow = Split(ReadAll(kSignatures / "archive-70.sig"));
    const Integers wide = Split(ReadAll(kSignatures / "archive-72.sig"));
    ASSERT_EQ(narrow.r.size(), 32u);
    ASSERT_EQ(wide.s.size(), 33u);
    struct Case {
        const char* name;
        Integers value;
        bool verifies;
    };
    const Case cases[] = {
        {"as signed, 32-byte integers", narrow, true},
        {"as signed, 33-byte integers", wide, true},
        {"redundant zero before r", {std::string(1, '\0') + narrow.r, narrow.s}, false},
        {"redundant zero before s", {narrow.r, std::string(1, '\0') + narrow.s}, false},
        {"r negative without its zero", {wide.r.substr(1), wide.s}, false},
        {"s negative without its zero", {wide.r, wide.s.substr(1)}, false},
    };
    const platform::TSignatureVerifier verifier(ReadAll(kSignatures / "publisher-public.pem"));
    for (const Case& c : cases) {
        WriteFile(folder / "a.sig", Join(c.value));
        EXPECT_EQ(verifier.Verifies(Utf8(kSignatures / "archive.bin"), Utf8(folder / "a.sig")), c.verifies) << c.name;
    }
    // The same (r, s) once as made and once with a redundant zero on r.
    const platform::TSignatureVerifier other(ReadAll(hostile / "public.pem"));
    EXPECT_TRUE(other.Verifies(Utf8(hostile / "data.bin"), Utf8(hostile / "data.bin.sig")));
    EXPECT_FALSE(other.Verifies(Utf8(hostile / "data.bin"), Utf8(hostile / "data.bin.sig-noncanonical")));
}

// Where many Korean users' programs live, and so their updates.
TEST(SignatureFixtures, FilesInAFolderNamedInHangulAreFound) {
    const TempFolder folder("quendal-hangul");
    const fs::path program = folder / fs::path(u8"홍길동") / fs::path(u8"퀸달 프로그램");
    fs::create_directories(program);
    fs::copy_file(kSignatures / "archive.bin", program / fs::path(u8"자료.zip"));
    fs::copy_file(kSignatures / "archive-71.sig", program / fs::path(u8"자료.zip.sig"));
    const platform::TSignatureVerifier verifier(ReadAll(kSignatures / "publisher-public.pem"));
    EXPECT_TRUE(verifier.Verifies(Utf8(program / fs::path(u8"자료.zip")), Utf8(program / fs::path(u8"자료.zip.sig"))));
    EXPECT_FALSE(verifier.Verifies(Utf8(program / fs::path(u8"자료.zip")), Utf8(program / fs::path(u8"없음.sig"))));
}

}  // namespace
