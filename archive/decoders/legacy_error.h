#pragma once

#include <cstdint>

// A data error inside a Shrink, Reduce or Implode decoder. Raised errors end
// the entry after what was decoded so far; the others are only reported, and
// the entry is then left undecoded.
struct LegacyDataError {
    int32_t code;
    bool raised;
};
