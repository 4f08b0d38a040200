#pragma once

#include "archive/pending_frame_types.h"
#include "archive/zip_records.h"

#include <array>
#include <cstdint>

inline bool HasHeader(THeaderTypeState state, THeaderType type) { return (state >> type) & 1; }
inline void AddHeader(THeaderTypeState& state, THeaderType type) {
    state = static_cast<THeaderTypeState>(state | (1u << type));
}
inline constexpr THeaderTypeState HeaderSet(THeaderType type) { return static_cast<THeaderTypeState>(1u << type); }

// What detection learns about an archive file, kept until the next detection.
struct ArchiveFacts {
    int64_t ArchiveSize = 0;
    // ZIP with a directory: the first central header; ZIP found by its local
    // headers: the first local header; other types: where the archive begins.
    int64_t ArchiveOffset = -1;
    // Added to every local-header offset taken from the central directory.
    int64_t OffsetAdjust = 0;
    int64_t CommentStart = 0;
    THeaderTypeState HeaderState = 0;
    TZipLocalHeader Local;        // the last local header read
    TZipCentralHeader Central;    // the last central header read
    TZipEndRecord End;            // the end of central directory record
    TZip64EndRecord Zip64End;
    TZip64Locator Zip64Locator;
    std::array<uint8_t, 512> TarHeader{};
    uint32_t ArchiveDate = 0x00210020;  // the archive file's own DOS date-time
    int VolumeNumber = 0;
    char VolumeLetter = 0;
};
