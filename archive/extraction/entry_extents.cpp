#include "archive/extraction/entry_extents.h"

#include <iterator>

bool TEntryExtents::Claim(uint16_t volume, int64_t start, int64_t end) {
    const auto next = taken_.lower_bound({volume, start});
    if (next != taken_.end() && next->first.first == volume && next->first.second < end) return false;
    if (next != taken_.begin()) {
        const auto before = std::prev(next);
        if (before->first.first == volume && before->second > start) return false;
    }
    taken_.emplace(std::make_pair(volume, start), end);
    return true;
}
