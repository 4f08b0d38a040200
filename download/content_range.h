#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// A Content-Range of a 206 answer: "bytes first-last/total", with a known
// total and first <= last < total.
struct TContentRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t total = 0;

    // Nothing for any other form (an unknown total "*", a unit other than
    // bytes, signs, spaces inside the numbers, numbers past 2^53).
    static std::optional<TContentRange> Parse(std::string_view text);
};
