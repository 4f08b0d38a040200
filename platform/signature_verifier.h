#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Checks a publisher's signature of a file: a DER-encoded ECDSA P-256
// signature over the SHA-256 of the file's bytes, made with the private half
// of `publicKeyPem` (a PEM SubjectPublicKeyInfo). Anything that is not such a
// signature, including a key that does not load, fails the check: the caller
// only ever installs what verified.
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

    std::string publicKeyPem_;
};

}  // namespace platform
