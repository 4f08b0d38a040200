#pragma once

#include <cstdint>

#include "archive/codec/bit_reader.h"
#include "archive/codec/inflate_tables.h"
#include "archive/codec/inflate_window.h"

namespace inflate_impl {

// Codes level: the literal, length and distance symbols of one compressed
// block. Each mode names what the decoder is waiting for.
enum class CodesMode : uint8_t {
    Start,    // room and input for the fast path, else goes on to Len
    Len,      // the bits of a literal/length code
    LenExt,   // the extra bits of a length
    Dist,     // the bits of a distance code
    DistExt,  // the extra bits of a distance
    Copy,     // window room to copy the rest of a match
    Lit,      // window room to store a literal
    Wash,     // nothing: flushes after the end-of-block code
    End,      // nothing: reports the end of the block
    BadCode,  // nothing: an invalid code was met
};

// One per compressed block; created by the block decoder, which frees it at
// the end of the block.
struct CodesDecoder {
    CodesMode mode = CodesMode::Start;
    Table literalLength;
    Table distance;
    uint32_t length = 0;     // literal byte in Lit, match length still to copy in Copy
    uint32_t distanceValue = 0;
    uint32_t extraBits = 0;  // extra bits the pending LenExt or DistExt step needs
};

enum class CodesResult {
    Suspended,   // input or output ran out; call again with more
    EndOfBlock,
    DataError,
};

CodesResult RunCodes(CodesDecoder& codes, BitBuffer& bits, Window& window, TInflateRec& rec);

}  // namespace inflate_impl
