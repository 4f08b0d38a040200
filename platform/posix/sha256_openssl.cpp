#include "platform/sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "platform/file.h"
#include "platform/file_handle.h"

namespace platform {

std::optional<Sha256Digest> Sha256OfFile(const std::string& path) {
    File file;
    if (!file.Open(path, File::Mode::Read)) return std::nullopt;
    return Sha256OfOpenFile(file.Handle());
}

std::optional<Sha256Digest> Sha256OfOpenFile(int handle) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
    std::vector<unsigned char> block(256 * 1024);
    for (;;) {
        const int64_t got = ReadFileHandle(handle, block.data(), block.size());
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        if (EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(got)) != 1) return std::nullopt;
    }
    Sha256Digest digest;
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) return std::nullopt;
    return digest;
}

std::optional<Sha256Digest> Sha256OfBytes(std::string_view bytes) {
    Sha256Digest digest;
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size())
        return std::nullopt;
    return digest;
}

}  // namespace platform
