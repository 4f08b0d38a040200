#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace release {

// A moment in UTC to the second, as the manifest writes it:
// "YYYY-MM-DDTHH:MM:SSZ" and nothing else (no offsets, fractions or leap
// seconds), so that every reader compares the same instant.
class UtcTime {
public:
    // Nothing for any other form or an impossible date (2026-02-30).
    static std::optional<UtcTime> Parse(std::string_view text);
    static UtcTime FromUnixSeconds(int64_t seconds) { return UtcTime(seconds); }

    int64_t UnixSeconds() const { return seconds_; }
    std::string Text() const;

    auto operator<=>(const UtcTime&) const = default;

private:
    explicit UtcTime(int64_t seconds) : seconds_(seconds) {}
    int64_t seconds_;
};

}  // namespace release
