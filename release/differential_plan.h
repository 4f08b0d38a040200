#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "release/release_manifest.h"

namespace release {

// Bytes first..last of the archive, both included.
struct TArchiveRange {
    uint64_t first = 0;
    uint64_t last = 0;
};

// A changed entry and where its local header lands in the file the ranges
// are fetched into, one after the other.
struct TFetchedEntry {
    size_t entry = 0;  // index in manifest.entries
    uint64_t position = 0;
};

struct TDifferentialPlan {
    std::string fallback;                // why the whole archive is fetched instead (English); empty: the plan holds
    std::vector<TArchiveRange> ranges;   // ascending, neighbours merged
    std::vector<TFetchedEntry> entries;  // the changed entries, in archive order
    uint64_t bytesToFetch = 0;           // the ranges' lengths added up
};

inline constexpr uint64_t kMergeGapBytes = 64 * 1024;  // two ranges closer than this are fetched as one
inline constexpr unsigned kMaxChangedPercent = 60;     // beyond this share of the archive, fetch it whole

// Which entries of the archive to fetch, as byte ranges, when only those that
// differ from the installed files are wanted. Every entry is checked before
// `unchanged` is asked, once per entry, so it never sees a name that is not a
// plain relative path (see IsPlainEntryName) nor an entry of a manifest the
// plan refuses for its extents.
TDifferentialPlan PlanDifferentialUpdate(const ReleaseManifest& manifest,
                                         const std::function<bool(const ManifestEntry&)>& unchanged);

}  // namespace release
