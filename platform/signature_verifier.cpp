#include "platform/signature_verifier.h"

#include <fstream>

namespace platform {

std::optional<std::vector<unsigned char>> TSignatureVerifier::ReadSignature(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<unsigned char> bytes(kMaxSignatureSize + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0 || got > kMaxSignatureSize) return std::nullopt;
    bytes.resize(got);
    return bytes;
}

}  // namespace platform
