#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "release/release_version.h"
#include "release/utc_time.h"

namespace release {

using Sha256Digest = std::array<uint8_t, 32>;

// The archive a manifest describes.
struct ManifestArchive {
    std::string name;
    uint64_t length = 0;
    Sha256Digest sha256{};
};

// One entry of the archive. offset is its local header's position in the
// archive; length the bytes from there to the end of its data, descriptor
// included, so that one entry can be fetched alone.
struct ManifestEntry {
    std::string name;
    uint64_t size = 0;  // uncompressed
    uint32_t crc32 = 0;
    Sha256Digest sha256{};  // of the uncompressed data
    uint64_t offset = 0;
    uint64_t length = 0;
    // As the archive's directory gives them: the system that made the entry
    // (high byte) with its version, and the file attributes in that system's
    // form (Unix modes in the high half on Unix). 0 when not listed.
    uint16_t versionMadeBy = 0;
    uint32_t externalAttributes = 0;

    // Made on Unix with a file type in the high half of the attributes.
    bool HasUnixMode() const { return versionMadeBy >> 8 == kMadeOnUnix && (externalAttributes >> 16 & kTypeMask) != 0; }
    // A symbolic link: its data, size and SHA-256 are those of its target text.
    bool IsSymbolicLink() const { return HasUnixMode() && (externalAttributes >> 16 & kTypeMask) == kLinkType; }
    // The permission bits the extractor applies (0777), when HasUnixMode().
    uint32_t Permissions() const { return externalAttributes >> 16 & 0777; }

    static constexpr uint16_t kMadeOnUnix = 3;
    static constexpr uint32_t kTypeMask = 0170000;
    static constexpr uint32_t kLinkType = 0120000;
};

// The publisher's signed statement of one release.
struct ReleaseManifest {
    std::string product;
    ReleaseVersion version;
    UtcTime published;
    UtcTime expires;
    ManifestArchive archive;
    std::vector<ManifestEntry> entries;
};

}  // namespace release
