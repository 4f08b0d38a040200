#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace release {

// A release version: dotted non-negative integers ("1.4.2"), compared part by
// part as numbers, so 1.10 is above 1.9. Missing trailing parts count as zero:
// 1.2 and 1.2.0 are the same release, so a publisher who adds a ".0" neither
// downgrades nor re-releases anything.
class ReleaseVersion {
public:
    // Nothing for anything but 1 to 16 dot-separated runs of 1 to 9 digits
    // ("1.2.x", "1..2", "+1", " 1", "1." are refused).
    static std::optional<ReleaseVersion> Parse(std::string_view text);

    const std::string& Text() const { return text_; }

    std::strong_ordering operator<=>(const ReleaseVersion& other) const;
    bool operator==(const ReleaseVersion& other) const { return (*this <=> other) == 0; }

private:
    ReleaseVersion(std::string text, std::vector<uint32_t> parts) : text_(std::move(text)), parts_(std::move(parts)) {}

    std::string text_;  // as written, kept for the manifest and messages
    std::vector<uint32_t> parts_;
};

}  // namespace release
