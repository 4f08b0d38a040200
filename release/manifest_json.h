#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "release/release_manifest.h"

namespace release {

// A manifest larger than this is refused before a byte of it is parsed; a
// real one with tens of thousands of entries stays far below.
constexpr uint64_t kMaxManifestBytes = 16 * 1024 * 1024;

// What reading a manifest gave: the manifest, or why it was refused.
struct ManifestReadResult {
    std::optional<ReleaseManifest> manifest;
    std::string error;  // English, naming the offending field; empty on success
};

// Reads a manifest from its UTF-8 JSON bytes. Refused: more than
// kMaxManifestBytes, anything that is not JSON, any field missing or of the
// wrong type, a version that is not dotted integers, a time that is not
// "YYYY-MM-DDTHH:MM:SSZ", a SHA-256 that is not 64 hex digits, a CRC-32 that
// is not 8, a number that is negative, fractional or above 2^63-1, an empty
// name, and two entries of the same name. Fields it does not know are
// ignored, so that a later publisher may add some.
ManifestReadResult ReadManifest(std::string_view bytes);

// The manifest as UTF-8 JSON that ReadManifest reads back; hex digits in
// lower case.
std::string WriteManifest(const ReleaseManifest& manifest);

}  // namespace release
