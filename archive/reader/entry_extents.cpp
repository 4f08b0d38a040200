#include "archive/reader/entry_extents.h"

#include <iterator>

bool TEntryExtents::Claim(uint16_t volume, int64_t start, int64_t end) {
    auto next = taken_.lower_bound({volume, start});
    if (next != taken_.end() && next->first.first == volume && next->first.second < end) return false;
    auto before = next == taken_.begin() ? taken_.end() : std::prev(next);
    if (before != taken_.end() && (before->first.first != volume || before->second < start)) before = taken_.end();
    if (before != taken_.end() && before->second > start) return false;
    // Entries follow one another: claims that touch are held as one range,
    // so a sound archive keeps a single range whatever its entry count.
    if (next != taken_.end() && next->first.first == volume && next->first.second == end) {
        end = next->second;
        next = taken_.erase(next);
    }
    if (before != taken_.end()) {
        before->second = end;
        return true;
    }
    taken_.emplace_hint(next, std::make_pair(volume, start), end);
    return true;
}
