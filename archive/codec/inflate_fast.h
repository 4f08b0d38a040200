#pragma once

#include "archive/codec/bit_reader.h"
#include "archive/codec/inflate_tables.h"
#include "archive/codec/inflate_window.h"

// The fast path of the codes level: decodes whole symbols and copies whole
// matches straight into the window without saving state between them.
//
// Entry and running conditions, checked before every refill:
//   - at least kFastMinRoom (3) bytes of contiguous window room at the write
//     position, for the up to three literals decoded per refill; a match
//     longer than the room left is handed back undone (PendingCopy), for the
//     codes decoder's Copy step, which flushes and wraps;
//   - at least kFastMinInput (10) input bytes not yet in the bit buffer; the
//     buffer is refilled with one 8-byte load to 56 bits or more, which holds
//     a whole length code with its extra bits and a whole distance code with
//     its extra bits (at most 15+5+15+14 = 49 bits).
// Close to the end of the input a tail loop takes over, one symbol per
// refill and only while 258 bytes of room are left, so that where an invalid
// code is reported does not depend on how far the main loop ran ahead
// (inflate_fast.cpp).
// Deflate64's length code 285 (16 extra bits, up to 65,538 bytes) is not
// covered by the preload: the fast path stops in front of it and leaves it
// to the codes decoder's own steps.
// Matches are copied in whole words into the slack after the window
// (match_copy.h). The tables must have the standard first-level widths
// (inflate_tables.h).
// On leaving, the whole bytes of the bit buffer not consumed go back to the
// input, so at most 7 bits remain.
namespace inflate_impl {

constexpr size_t kFastMinRoom = 3;
constexpr int32_t kFastMinInput = 10;

enum class FastResult {
    Stopped,      // room or input below the limits, or a long Deflate64 match next
    PendingCopy,  // a match was decoded that the room cannot take whole; not copied
    PendingDistance,  // a length was decoded; its distance code is left to the codes decoder
    EndOfBlock,   // the end-of-block code was consumed
    InvalidCode,  // an invalid code, or a distance beyond the window (see inflate_fast.cpp
                  // for which invalid codes are reported here and which are left over)
};

struct PendingMatch {
    uint32_t length = 0;
    uint32_t distance = 0;
};

FastResult InflateFast(const Table& literalLength, const Table& distance, BitBuffer& bits, Window& window,
                       TInflateRec& rec, PendingMatch& pending);

}  // namespace inflate_impl
