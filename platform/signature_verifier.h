#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Checks a publisher's signature of a file: a DER-encoded ECDSA P-256
// signature over the SHA-256 of the file's bytes, made with the private half
// of `publicKeyPem` (a PEM SubjectPublicKeyInfo). Anything that is not such a
// signature, including a key that does not load, fails the check: the caller
// only ever installs what verified.
// Files are opened through the platform layer, so that paths are taken as
// UTF-8 on every system (on Windows a narrow open would read them in the
// ANSI code page and miss a folder named in Hangul).
class TSignatureVerifier {
public:
    explicit TSignatureVerifier(std::string publicKeyPem) : publicKeyPem_(std::move(publicKeyPem)) {}

    bool Verifies(const std::string& filePath, const std::string& signaturePath) const;

    // A DER ECDSA P-256 signature is at most 72 bytes; a larger file (an
    // error page, say) is refused without reading it.
    static constexpr size_t kMaxSignatureSize = 72;

private:
    // The signature file's bytes, or nothing when it is missing, empty or too large.
    static std::optional<std::vector<unsigned char>> ReadSignature(const std::string& path);
    // Hands the file's bytes to `take` piece by piece (an archive may be far
    // larger than memory allows); false when the file cannot be read or
    // `take` refuses a piece.
    static bool ReadInPieces(const std::string& path, const std::function<bool(const unsigned char*, size_t)>& take);

    std::string publicKeyPem_;
};

}  // namespace platform
