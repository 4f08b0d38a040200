#pragma once

// Manifest entries for tests that compare files on disk with them.

#include <filesystem>
#include <string>

#include "platform/sha256.h"
#include "release/release_manifest.h"
#include "support/file_bytes.h"
#include "support/temp_folder.h"

// The SHA-256 of `bytes`, taken of a file: apart from the way the code under
// test hashes a link's text.
inline platform::Sha256Digest DigestOfText(const std::string& bytes) {
    const TempFolder folder("quendal-digest");
    test_files::WriteFile(folder / "text", bytes);
    return platform::Sha256OfFile((folder / "text").string()).value_or(platform::Sha256Digest{});
}

// An entry as the publisher lists it: made on Unix with `mode` (type and
// permission bits, and the DOS read-only bit as the zip tool sets it), or,
// with no mode, on DOS with the attribute bits `dos`. A link's bytes are its
// target text.
inline release::ManifestEntry EntryOf(const std::string& name, const std::string& bytes, uint32_t mode,
                                      uint32_t dos = 0) {
    release::ManifestEntry entry{name, bytes.size(), 0, DigestOfText(bytes), 0, 1};
    entry.versionMadeBy = mode != 0 ? (3 << 8 | 30) : 20;
    entry.externalAttributes = mode != 0 ? mode << 16 | ((mode & 0200) ? 0 : 1) : dos;
    return entry;
}

inline constexpr uint32_t kUnixLink = 0120777;
inline constexpr uint32_t kUnixFile = 0100644;
inline constexpr uint32_t kUnixProgram = 0100755;
