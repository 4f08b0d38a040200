#include "platform/signature_verifier.h"

#include "platform/file.h"

namespace platform {

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

bool TSignatureVerifier::ReadInPieces(const std::string& path,
                                      const std::function<bool(const unsigned char*, size_t)>& take) {
    File file;
    if (!file.Open(path, File::Mode::Read)) return false;
    std::vector<unsigned char> chunk(64 * 1024);
    for (;;) {
        const int64_t read = file.Read(chunk.data(), chunk.size());
        if (read < 0) return false;
        if (read == 0) return true;
        if (!take(chunk.data(), static_cast<size_t>(read))) return false;
    }
}

}  // namespace platform
