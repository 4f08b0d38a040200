#include "release/differential_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "release/entry_name.h"

using release::kMergeGapBytes;
using release::ManifestEntry;
using release::PlanDifferentialUpdate;
using release::ReleaseManifest;
using release::TDifferentialPlan;

namespace {

struct Extent {
    std::string name;
    uint64_t offset;
    uint64_t length;
};

ReleaseManifest Manifest(uint64_t archiveLength, const std::vector<Extent>& extents) {
    ReleaseManifest manifest{"Quendal", *release::ReleaseVersion::Parse("1.0"), release::UtcTime::FromUnixSeconds(0),
                             release::UtcTime::FromUnixSeconds(0), {"Quendal.zip", archiveLength, {}}, {}};
    for (const Extent& e : extents) {
        ManifestEntry entry;
        entry.name = e.name;
        entry.offset = e.offset;
        entry.length = e.length;
        manifest.entries.push_back(entry);
    }
    return manifest;
}

// Plans with every entry not named in `same` changed, and counts how often
// each entry was asked about.
TDifferentialPlan Plan(const ReleaseManifest& manifest, const std::set<std::string>& same,
                       std::map<std::string, int>* asked = nullptr) {
    return PlanDifferentialUpdate(manifest, [&](const ManifestEntry& entry) {
        EXPECT_TRUE(release::IsPlainEntryName(entry.name)) << entry.name;
        if (asked) ++(*asked)[entry.name];
        return same.count(entry.name) > 0;
    });
}

std::vector<std::pair<uint64_t, uint64_t>> Ranges(const TDifferentialPlan& plan) {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const release::TArchiveRange& r : plan.ranges) ranges.emplace_back(r.first, r.last);
    return ranges;
}

std::vector<std::pair<size_t, uint64_t>> Entries(const TDifferentialPlan& plan) {
    std::vector<std::pair<size_t, uint64_t>> entries;
    for (const release::TFetchedEntry& e : plan.entries) entries.emplace_back(e.entry, e.position);
    return entries;
}

constexpr uint64_t kLargeArchive = 100'000'000;

TEST(DifferentialPlan, ChangedEntriesInArchiveOrderWithTheirPlacesInTheFetchedFile) {
    // Listed out of archive order; "same" lies in a small gap and is fetched
    // with its neighbours, "far" beyond a large one is a range of its own.
    const ReleaseManifest manifest = Manifest(kLargeArchive, {{"far", 500'000, 300},
                                                              {"second", 1'500, 700},
                                                              {"same", 1'000, 500},
                                                              {"first", 100, 900},
                                                              {"kept", 2'200, 10'000}});
    std::map<std::string, int> asked;
    const TDifferentialPlan plan = Plan(manifest, {"same", "kept"}, &asked);
    ASSERT_EQ(plan.fallback, "");
    EXPECT_EQ(Ranges(plan), (std::vector<std::pair<uint64_t, uint64_t>>{{100, 2'199}, {500'000, 500'299}}));
    EXPECT_EQ(Entries(plan), (std::vector<std::pair<size_t, uint64_t>>{{3, 0}, {1, 1'400}, {0, 2'100}}));
    EXPECT_EQ(plan.bytesToFetch, 2'100u + 300u);
    EXPECT_EQ(asked, (std::map<std::string, int>{{"far", 1}, {"second", 1}, {"same", 1}, {"first", 1}, {"kept", 1}}));
}

TEST(DifferentialPlan, RangesCloserThanTheGapLimitAreFetchedAsOne) {
    struct GapCase {
        uint64_t gap;
        size_t ranges;
    };
    for (const GapCase c : {GapCase{0, 1}, GapCase{1, 1}, GapCase{kMergeGapBytes - 1, 1}, GapCase{kMergeGapBytes, 2},
                            GapCase{kMergeGapBytes + 1, 2}}) {
        SCOPED_TRACE(c.gap);
        const ReleaseManifest manifest = Manifest(kLargeArchive, {{"a", 10, 1'000}, {"b", 1'010 + c.gap, 1'000}});
        const TDifferentialPlan plan = Plan(manifest, {});
        ASSERT_EQ(plan.fallback, "");
        ASSERT_EQ(plan.ranges.size(), c.ranges);
        const bool merged = c.ranges == 1;
        EXPECT_EQ(plan.bytesToFetch, merged ? 2'000 + c.gap : 2'000u);
        const uint64_t secondAt = merged ? 1'000 + c.gap : 1'000;
        EXPECT_EQ(Entries(plan), (std::vector<std::pair<size_t, uint64_t>>{{0, 0}, {1, secondAt}}));
        EXPECT_EQ(plan.ranges.back().last, 2'009 + c.gap);
    }
}

TEST(DifferentialPlan, FetchesTheWholeArchiveOnlyBeyondTheChangedShare) {
    struct ShareCase {
        const char* name;
        std::vector<Extent> extents;
        std::set<std::string> same;
        bool holds;
    };
    const ShareCase cases[] = {
        {"exactly 60 %", {{"a", 0, 600}, {"b", 600, 400}}, {"b"}, true},
        {"one byte more", {{"a", 0, 601}, {"b", 601, 399}}, {"b"}, false},
        {"an unchanged entry merged in counts", {{"a", 0, 300}, {"b", 300, 100}, {"c", 400, 300}}, {"b"}, false},
        {"everything changed", {{"a", 0, 1'000}}, {}, false},
    };
    for (const ShareCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TDifferentialPlan plan = Plan(Manifest(1'000, c.extents), c.same);
        EXPECT_EQ(plan.fallback.empty(), c.holds) << plan.fallback;
        if (!c.holds) {
            EXPECT_NE(plan.fallback.find("60 %"), std::string::npos) << plan.fallback;
            EXPECT_TRUE(plan.ranges.empty());
            EXPECT_TRUE(plan.entries.empty());
        }
    }
}

TEST(DifferentialPlan, NothingChangedHoldsWithNothingToFetch) {
    const TDifferentialPlan plan = Plan(Manifest(1'000, {{"a", 0, 400}, {"b", 400, 600}}), {"a", "b"});
    EXPECT_EQ(plan.fallback, "");
    EXPECT_TRUE(plan.ranges.empty());
    EXPECT_TRUE(plan.entries.empty());
    EXPECT_EQ(plan.bytesToFetch, 0u);
}

struct Refusal {
    const char* name;
    uint64_t archiveLength;
    std::vector<Extent> extents;
    const char* says;  // in the reason, as the entry is quoted there
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class DifferentialPlanRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(DifferentialPlanRefuses, WithAReasonNamingTheEntryAndAsksNothing) {
    const Refusal& c = GetParam();
    std::map<std::string, int> asked;
    const TDifferentialPlan plan = Plan(Manifest(c.archiveLength, c.extents), {}, &asked);
    EXPECT_NE(plan.fallback.find(c.says), std::string::npos) << plan.fallback;
    EXPECT_TRUE(plan.ranges.empty());
    EXPECT_TRUE(plan.entries.empty());
    EXPECT_EQ(plan.bytesToFetch, 0u);
    EXPECT_TRUE(asked.empty());
}

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Manifests, DifferentialPlanRefuses,
    testing::Values(Refusal{"NoEntries", 1'000, {}, "no entries"},
                    Refusal{"ClimbingName", 1'000, {{"a", 0, 10}, {"../evil.exe", 10, 10}}, "\"../evil.exe\""},
                    Refusal{"UpdaterFolder", 1'000, {{".Quendal-Update/x", 0, 10}}, "\".Quendal-Update/x\""},
                    Refusal{"ControlCharacter", 1'000, {{"a\nb", 0, 10}}, "\"a\\x0ab\""},
                    Refusal{"ListedTwice", 1'000, {{"a", 0, 10}, {"a", 10, 10}}, "\"a\" is listed twice"},
                    Refusal{"EmptyExtent", 1'000, {{"a", 0, 10}, {"b", 10, 0}}, "\"b\""},
                    Refusal{"EndsPastTheArchive", 1'000, {{"a", 0, 10}, {"b", 900, 101}}, "\"b\""},
                    Refusal{"StartsPastTheArchive", 1'000, {{"b", 1'000, 1}}, "\"b\""},
                    Refusal{"EndOverflows", kMax, {{"b", kMax - 10, 100}}, "\"b\""},
                    Refusal{"Overlap", 1'000, {{"a", 0, 100}, {"c", 500, 10}, {"b", 99, 10}},
                            "\"a\" and \"b\" overlap"},
                    Refusal{"SameStart", 1'000, {{"a", 50, 10}, {"b", 50, 10}}, "\"a\" and \"b\" overlap"}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
