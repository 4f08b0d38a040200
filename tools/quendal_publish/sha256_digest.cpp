#include "tools/quendal_publish/sha256_digest.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/file.h"

std::optional<release::Sha256Digest> Sha256OfFile(const std::string& path) {
    platform::File file;
    if (!file.Open(path, platform::File::Mode::Read)) return std::nullopt;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    std::vector<unsigned char> block(1 << 20);
    while (true) {
        const int64_t got = file.Read(block.data(), block.size());
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        if (EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(got)) != 1) return std::nullopt;
    }
    release::Sha256Digest digest;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) return std::nullopt;
    return digest;
}
