#include "release/differential_plan.h"

#include <algorithm>
#include <numeric>
#include <set>
#include <string_view>

#include "release/entry_name.h"

namespace release {

namespace {

// part > whole * percent / 100, without the product overflowing.
bool ExceedsShare(uint64_t part, uint64_t whole, unsigned percent) {
    const uint64_t share = whole / 100 * percent + whole % 100 * percent / 100;
    return part > share;
}

// Why the manifest's entries cannot be fetched one by one; empty when they can.
std::string RefuseEntries(const ReleaseManifest& manifest, const std::vector<size_t>& byOffset) {
    if (manifest.entries.empty()) return "the manifest lists no entries";
    std::set<std::string_view> names;
    for (const ManifestEntry& entry : manifest.entries) {
        if (!IsPlainEntryName(entry.name)) {
            return "entry " + QuotedEntryName(entry.name) +
                   " is not a plain relative path below the program folder";
        }
        if (!names.insert(entry.name).second) return "entry " + QuotedEntryName(entry.name) + " is listed twice";
        if (entry.length == 0 || entry.offset > manifest.archive.length ||
            entry.length > manifest.archive.length - entry.offset) {
            return "entry " + QuotedEntryName(entry.name) + " has bytes " + std::to_string(entry.offset) + " + " +
                   std::to_string(entry.length) + ", not inside the archive of " +
                   std::to_string(manifest.archive.length) + " bytes";
        }
    }
    for (size_t i = 1; i < byOffset.size(); ++i) {
        const ManifestEntry& before = manifest.entries[byOffset[i - 1]];
        const ManifestEntry& after = manifest.entries[byOffset[i]];
        if (before.offset + before.length > after.offset) {
            return "entries " + QuotedEntryName(before.name) + " and " + QuotedEntryName(after.name) +
                   " overlap in the archive";
        }
    }
    return {};
}

}  // namespace

TDifferentialPlan PlanDifferentialUpdate(const ReleaseManifest& manifest,
                                         const std::function<bool(const ManifestEntry&)>& unchanged) {
    std::vector<size_t> byOffset(manifest.entries.size());
    std::iota(byOffset.begin(), byOffset.end(), size_t{0});
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [&](size_t a, size_t b) { return manifest.entries[a].offset < manifest.entries[b].offset; });
    TDifferentialPlan plan;
    plan.fallback = RefuseEntries(manifest, byOffset);
    if (!plan.fallback.empty()) return plan;

    for (const size_t index : byOffset) {
        const ManifestEntry& entry = manifest.entries[index];
        if (unchanged(entry)) continue;
        const TArchiveRange range{entry.offset, entry.offset + entry.length - 1};
        // The gap is the bytes between the last range's end and this one's start.
        if (!plan.ranges.empty() && range.first - plan.ranges.back().last - 1 < kMergeGapBytes) {
            plan.bytesToFetch += range.last - plan.ranges.back().last;
            plan.ranges.back().last = range.last;
        } else {
            plan.ranges.push_back(range);
            plan.bytesToFetch += range.last - range.first + 1;
        }
        // The entry ends its range, so it lands just before the end of what is fetched so far.
        plan.entries.push_back({index, plan.bytesToFetch - entry.length});
    }
    if (ExceedsShare(plan.bytesToFetch, manifest.archive.length, kMaxChangedPercent)) {
        plan.fallback = "the changed entries need " + std::to_string(plan.bytesToFetch) + " of the archive's " +
                        std::to_string(manifest.archive.length) + " bytes, more than " +
                        std::to_string(kMaxChangedPercent) + " %";
        plan.ranges.clear();
        plan.entries.clear();
        plan.bytesToFetch = 0;
    }
    return plan;
}

}  // namespace release
