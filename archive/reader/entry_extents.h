#pragma once

#include <cstdint>
#include <map>
#include <utility>

// The bytes each extracted entry takes in its volume, local header through
// data. Entries of a sound archive never share bytes; entries pointed at one
// shared stream are the classic way to make a small archive extract to an
// enormous size, so a claim on bytes another entry holds is refused.
class TEntryExtents {
public:
    void Clear() { taken_.clear(); }

    // Claims [start, end) of the volume; false when any of it is taken.
    bool Claim(uint16_t volume, int64_t start, int64_t end);

private:
    // Keyed by (volume, start), each with its end.
    std::map<std::pair<uint16_t, int64_t>, int64_t> taken_;
};
