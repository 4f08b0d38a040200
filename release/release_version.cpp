#include "release/release_version.h"

#include <algorithm>

namespace release {

namespace {
constexpr size_t kMaxParts = 16;
constexpr size_t kMaxDigits = 9;  // fits uint32_t whatever the digits
}  // namespace

std::optional<ReleaseVersion> ReleaseVersion::Parse(std::string_view text) {
    std::vector<uint32_t> parts;
    size_t position = 0;
    while (true) {
        const size_t start = position;
        uint32_t value = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
            value = value * 10 + static_cast<uint32_t>(text[position] - '0');
            ++position;
        }
        const size_t digits = position - start;
        if (digits == 0 || digits > kMaxDigits || parts.size() == kMaxParts) return std::nullopt;
        parts.push_back(value);
        if (position == text.size()) break;
        if (text[position] != '.') return std::nullopt;
        ++position;
    }
    return ReleaseVersion(std::string(text), std::move(parts));
}

std::strong_ordering ReleaseVersion::operator<=>(const ReleaseVersion& other) const {
    const size_t count = std::max(parts_.size(), other.parts_.size());
    for (size_t i = 0; i < count; ++i) {
        const uint32_t mine = i < parts_.size() ? parts_[i] : 0;
        const uint32_t theirs = i < other.parts_.size() ? other.parts_[i] : 0;
        if (mine != theirs) return mine <=> theirs;
    }
    return std::strong_ordering::equal;
}

}  // namespace release
