#include "platform/sha256.h"

#include <limits>
#include <memory>
#include <vector>

#include "platform/file.h"
#include "platform/win32/cng_algorithm.h"

namespace platform {

std::optional<Sha256Digest> Sha256OfFile(const std::string& path) {
    File file;
    if (!file.Open(path, File::Mode::Read)) return std::nullopt;
    TCngAlgorithm algorithm(BCRYPT_SHA256_ALGORITHM);
    BCRYPT_HASH_HANDLE handle = nullptr;
    if (!algorithm.Ok() || !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Handle(), &handle, nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
    const std::unique_ptr<void, decltype(&BCryptDestroyHash)> hash(handle, &BCryptDestroyHash);
    std::vector<unsigned char> block(256 * 1024);
    for (;;) {
        const int64_t got = file.Read(block.data(), block.size());
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), block.data(), static_cast<ULONG>(got), 0))) return std::nullopt;
    }
    Sha256Digest digest;
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

std::optional<Sha256Digest> Sha256OfBytes(std::string_view bytes) {
    TCngAlgorithm algorithm(BCRYPT_SHA256_ALGORITHM);
    Sha256Digest digest;
    if (!algorithm.Ok() || bytes.size() > std::numeric_limits<ULONG>::max() ||
        !BCRYPT_SUCCESS(BCryptHash(algorithm.Handle(), nullptr, 0,
                                   reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                   static_cast<ULONG>(bytes.size()), digest.data(), static_cast<ULONG>(digest.size()))))
        return std::nullopt;
    return digest;
}

}  // namespace platform
