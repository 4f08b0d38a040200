#include "platform/sha256.h"

#include <limits>
#include <vector>

#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/win32/cng_algorithm.h"

namespace platform {
namespace {

// One SHA-256 computed with CNG: fed in pieces, then finished once.
class TSha256Hash {
public:
    TSha256Hash() : algorithm_(BCRYPT_SHA256_ALGORITHM) {
        ok_ = algorithm_.Ok() &&
              BCRYPT_SUCCESS(BCryptCreateHash(algorithm_.Handle(), &handle_, nullptr, 0, nullptr, 0, 0));
        if (!ok_) handle_ = nullptr;
    }
    ~TSha256Hash() {
        if (handle_) BCryptDestroyHash(handle_);
    }
    TSha256Hash(const TSha256Hash&) = delete;
    TSha256Hash& operator=(const TSha256Hash&) = delete;

    void Add(const void* bytes, size_t size) {
        ok_ = ok_ && size <= std::numeric_limits<ULONG>::max() &&
              BCRYPT_SUCCESS(BCryptHashData(handle_, static_cast<PUCHAR>(const_cast<void*>(bytes)),
                                            static_cast<ULONG>(size), 0));
    }

    std::optional<Sha256Digest> Finish() {
        Sha256Digest digest;
        if (!ok_ || !BCRYPT_SUCCESS(BCryptFinishHash(handle_, digest.data(), static_cast<ULONG>(digest.size()), 0)))
            return std::nullopt;
        return digest;
    }

private:
    TCngAlgorithm algorithm_;
    BCRYPT_HASH_HANDLE handle_ = nullptr;
    bool ok_ = false;
};

}  // namespace

std::optional<Sha256Digest> Sha256OfFile(const std::string& path) {
    File file;
    if (!file.Open(path, File::Mode::Read)) return std::nullopt;
    return Sha256OfOpenFile(file.Handle());
}

std::optional<Sha256Digest> Sha256OfOpenFile(int file) {
    TSha256Hash hash;
    std::vector<unsigned char> block(256 * 1024);
    for (;;) {
        const int64_t got = ReadFileHandle(file, block.data(), block.size());
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        hash.Add(block.data(), static_cast<size_t>(got));
    }
    return hash.Finish();
}

std::optional<Sha256Digest> Sha256OfBytes(std::string_view bytes) {
    TSha256Hash hash;
    hash.Add(bytes.data(), bytes.size());
    return hash.Finish();
}

}  // namespace platform
