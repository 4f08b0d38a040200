#include "archive/reader/entry_extents.h"

#include <gtest/gtest.h>

namespace {

// Touching claims are held merged; every later claim must still be judged
// against the exact bytes taken, on its own volume only.
TEST(EntryExtents, RefusesExactlyTheClaimsOnTakenBytes) {
    struct Claim {
        uint16_t volume;
        int64_t start;
        int64_t end;
        bool granted;
    } claims[] = {
        {1, 0, 10, true},
        {1, 10, 20, true},     // touches the first
        {1, 5, 8, false},      // inside the merged range
        {1, 19, 21, false},    // over its end
        {1, 20, 30, true},
        {1, 40, 50, true},     // leaves a gap
        {1, 30, 40, true},     // fills the gap exactly
        {1, 35, 36, false},
        {1, 100, 110, true},
        {1, 90, 100, true},    // touches the range after it
        {1, 89, 91, false},
        {1, 109, 111, false},
        {1, 50, 90, true},     // everything from 0 to 110 is now taken
        {1, 0, 1, false},
        {1, 110, 111, true},
        {2, 0, 10, true},      // another volume has its own bytes
        {2, 9, 11, false},
        {1, -5, 0, true},      // ends where volume 1's bytes begin
        {1, -6, -4, false},
    };
    TEntryExtents extents;
    for (const Claim& c : claims)
        EXPECT_EQ(extents.Claim(c.volume, c.start, c.end), c.granted)
            << "volume " << c.volume << " [" << c.start << ", " << c.end << ")";

    extents.Clear();
    EXPECT_TRUE(extents.Claim(1, 0, 10));
}

}  // namespace
