#include "archive/codec/explode.h"

#include <optional>

#include "archive/codec/legacy_bit_reader.h"
#include "archive/codec/legacy_output.h"
#include "archive/codec/shannon_fano_tree.h"

namespace {

constexpr int32_t kLongLength = 63;  // a length symbol followed by a byte more of length

}  // namespace

void Explode(LegacyBitReader& in, LegacyOutput& out, uint16_t flags) {
    if (out.Full()) return;
    const bool bigWindow = flags & 0x0002;
    const bool literalTree = flags & 0x0004;
    const int32_t windowMask = bigWindow ? 8191 : 4095;
    const unsigned lowDistanceBits = bigWindow ? 7 : 6;
    const uint32_t minLength = literalTree ? 3 : 2;

    std::optional<ShannonFanoTree> literals;
    if (literalTree) {
        literals.emplace(256);
        if (!literals->Read(in)) return;
    }
    ShannonFanoTree lengths(64), distances(64);
    if (!lengths.Read(in) || !distances.Read(in)) return;

    while (!out.Full() && !in.AtEnd()) {
        // A flag missing at the end of the data counts as a literal.
        if (in.ReadBits(1) != 0) {
            const int32_t literal = literals ? literals->Decode(in) : in.ReadBits(8);
            out.Put(static_cast<uint8_t>(literal));
            continue;
        }
        const int32_t low = in.ReadBits(lowDistanceBits);
        const int32_t high = distances.Decode(in);
        int32_t length = lengths.Decode(in);
        if (length == kLongLength) length += in.ReadBits(8);
        const auto distance = static_cast<uint32_t>(((high << lowDistanceBits) | low) & windowMask) + 1;
        out.CopyMatch(distance, static_cast<uint32_t>(length) + minLength);
    }
}
