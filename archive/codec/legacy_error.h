#pragma once

#include <cstdint>

// What a Shrink, Reduce or Implode decoder found wrong; the components turn
// it into their error code.
enum class LegacyFault : uint8_t {
    None,
    BadBlock,           // a code or follower set the format cannot hold
    AmbiguousTree,      // an Implode tree with codes that collide or lead nowhere
    StackOverflow,      // a Shrink string deeper than its stack
    UnsupportedMethod,  // not Shrink, Reduce or Implode
};

// A data error inside a decoder. Raised errors end the entry after what was
// decoded so far; the others are only reported, and the entry is then left
// undecoded.
struct LegacyDataError {
    LegacyFault fault;
    bool raised;
};
