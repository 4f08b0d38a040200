#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using Sha256Digest = std::array<uint8_t, 32>;

// The SHA-256 of a whole file, read in pieces (an archive may be far larger
// than memory allows) through the platform's own crypto: OpenSSL's libcrypto,
// or CNG on Windows. Nothing when the file cannot be read.
std::optional<Sha256Digest> Sha256OfFile(const std::string& path);
// The same of a file open as `handle` (file_handle.h), from where the handle
// stands to the end; the handle stays the caller's.
std::optional<Sha256Digest> Sha256OfOpenFile(int handle);

// The SHA-256 of bytes in memory; nothing when the crypto library fails.
std::optional<Sha256Digest> Sha256OfBytes(std::string_view bytes);

}  // namespace platform
