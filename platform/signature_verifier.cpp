#include "platform/signature_verifier.h"

#include "platform/file.h"

namespace platform {

bool TSignatureVerifier::Verifies(const std::string& filePath, const std::string& signaturePath) const {
    const auto signature = ReadSignature(signaturePath);
    if (!signature) return false;
    const std::vector<std::string> keys = PublicKeyBlocks(publicKeysPem_);
    if (keys.empty()) return false;
    const std::optional<Sha256Digest> digest = Sha256OfFile(filePath);
    if (!digest) return false;
    for (const std::string& key : keys)
        if (VerifiesDigest(key, *digest, *signature)) return true;
    return false;
}

std::vector<std::string> TSignatureVerifier::PublicKeyBlocks(const std::string& pem) {
    static const std::string kBegin = "-----BEGIN PUBLIC KEY-----";
    static const std::string kEnd = "-----END PUBLIC KEY-----";
    std::vector<std::string> blocks;
    for (size_t begin = pem.find(kBegin); begin != std::string::npos; begin = pem.find(kBegin, begin)) {
        const size_t end = pem.find(kEnd, begin + kBegin.size());
        if (end == std::string::npos) break;
        blocks.push_back(pem.substr(begin, end + kEnd.size() - begin) + "\n");
        begin = end + kEnd.size();
    }
    return blocks;
}

std::optional<std::vector<unsigned char>> TSignatureVerifier::ReadSignature(const std::string& path) {
    File file;
    if (!file.Open(path, File::Mode::Read)) return std::nullopt;
    // One byte more than a signature may hold tells a larger file apart.
    std::vector<unsigned char> bytes(kMaxSignatureSize + 1);
    size_t got = 0;
    while (got < bytes.size()) {
        const int64_t read = file.Read(bytes.data() + got, bytes.size() - got);
        if (read < 0) return std::nullopt;
        if (read == 0) break;
        got += static_cast<size_t>(read);
    }
    if (got == 0 || got > kMaxSignatureSize) return std::nullopt;
    bytes.resize(got);
    return bytes;
}

}  // namespace platform
