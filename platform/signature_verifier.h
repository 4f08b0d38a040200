#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/sha256.h"

namespace platform {

// Checks a publisher's signature of a file: a DER-encoded ECDSA P-256
// signature over the SHA-256 of the file's bytes. `publicKeysPem` holds one
// or more PEM SubjectPublicKeyInfo blocks (text between them is ignored); a
// signature made with the private half of any of them verifies, so that an
// updater can know the next key before the publisher switches to it.
// Anything that is not such a signature, including keys that do not load,
// fails the check: the caller only ever installs what verified.
// Files are opened through the platform layer, so that paths are taken as
// UTF-8 on every system (on Windows a narrow open would read them in the
// ANSI code page and miss a folder named in Hangul).
class TSignatureVerifier {
public:
    explicit TSignatureVerifier(std::string publicKeysPem) : publicKeysPem_(std::move(publicKeysPem)) {}

    bool Verifies(const std::string& filePath, const std::string& signaturePath) const;

    // A DER ECDSA P-256 signature is at most 72 bytes; a larger file (an
    // error page, say) is refused without reading it.
    static constexpr size_t kMaxSignatureSize = 72;

    // Each "BEGIN PUBLIC KEY" block of the text, armour lines included.
    static std::vector<std::string> PublicKeyBlocks(const std::string& pem);

private:
    // The signature file's bytes, or nothing when it is missing, empty or too large.
    static std::optional<std::vector<unsigned char>> ReadSignature(const std::string& path);
    // One key's check of a digest; the key must be a P-256 one.
    static bool VerifiesDigest(const std::string& publicKeyPem, const Sha256Digest& digest,
                               const std::vector<unsigned char>& signature);

    std::string publicKeysPem_;
};

}  // namespace platform
