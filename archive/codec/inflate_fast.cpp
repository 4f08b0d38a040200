#include "archive/codec/inflate_fast.h"

#include <bit>
#include <cstring>

#include "archive/codec/match_copy.h"

namespace inflate_impl {
namespace {

inline uint64_t LoadLittleEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline uint64_t LowBits(uint64_t value, unsigned n) { return value & ((uint64_t{1} << n) - 1); }

constexpr uint64_t kLiteralLengthMask = (uint64_t{1} << kLiteralLengthRootBits) - 1;
constexpr uint64_t kDistanceMask = (uint64_t{1} << kDistanceRootBits) - 1;

inline uint64_t LoadBits(uint64_t hold, unsigned count, const uint8_t*& in) {
    hold |= LoadLittleEndian64(in) << count;
    in += (63 - count) >> 3;
    return hold;
}

// Which symbols the fast path decodes, and so how much input a call that
// meets an invalid code has taken, follows one rule wherever the fast path
// runs: a symbol counts as fast-decoded where a fast path that refills after
// every symbol would decode it, one that enters where the room is at least
// kMarginRoom and kFastMinInput bytes are left past the bits in use, and
// goes on after a symbol while the room and the bytes left past its last
// refill (which reads 7 bytes ahead) still meet those limits. An invalid
// code among such symbols is reported by the fast path, with the input
// ending at the last whole byte before it; any other is met by the codes
// decoder's steps, which take input until the code's width is in.
//
// Far from the end of the input that rule's input limit always holds, and
// the main loop runs with several literals per refill and down to a room of
// kFastMinRoom, counting a symbol as fast-decoded where the room is at least
// kMarginRoom. Within kFarInput bytes of the end, the tail loop follows the
// rule symbol by symbol.
constexpr size_t kMarginRoom = 258;
// A symbol starts at most 7 bytes before the main loop's read position, and
// the rule's refill reads 7 bytes past a symbol's start.
constexpr int32_t kFarInput = kFastMinInput + 14;

// The fast path's loop: the main loop (kTail false) or the tail loop. The
// main loop sets `toTail` where it stops for the input only and the tail
// loop is to go on from there.
template <bool kTail>
FastResult FastLoop(const Table& literalLength, const Table& distance, BitBuffer& bits, Window& window,
                    TInflateRec& rec, PendingMatch& pending, bool& toTail) {
    constexpr size_t kMinRoom = kTail ? kMarginRoom : kFastMinRoom;
    constexpr int32_t kMinInput = kTail ? kFastMinInput : kFarInput;
    const uint8_t* in = rec.NextIn;
    uint8_t* out = window.write;
    const uint8_t* const inEnd = in + rec.AvailIn;
    uint8_t* const outLimit = window.write < window.read ? window.read - 1 : window.end;
    uint8_t* const start = window.start;
    const size_t windowSize = window.Size();
    uint64_t hold = bits.hold;
    unsigned count = bits.count;
    const TableEntry* const litTable = literalLength.entries;

    // Gives the whole bytes of the bit buffer back to the input and stores
    // the positions.
    auto finish = [&](FastResult r) {
        const unsigned unusedBytes = count >> 3;
        in -= unusedBytes;
        count &= 7;
        bits.hold = LowBits(hold, count);
        bits.count = count;
        const auto consumed = static_cast<int32_t>(in - rec.NextIn);
        rec.NextIn = in;
        rec.AvailIn -= consumed;
        rec.TotalIn += static_cast<uint64_t>(consumed);
        window.write = out;
        return r;
    };
    // Room and input for the next refill's symbols once `queued` more bytes
    // are written.
    auto roomFor = [&](size_t queued) {
        return static_cast<size_t>(outLimit - out) >= kMinRoom + queued && inEnd - in >= kMinInput;
    };
    // Tops the bit buffer up to 56 bits or more with one 8-byte load. The
    // bits above `count` are then the input's next bits as well.
    auto refill = [&] {
        hold = LoadBits(hold, count, in);
        count |= 56;
    };
    auto consume = [&](unsigned n) {
        hold >>= n;
        count -= n;
    };

    // Whether the symbol about to be decoded counts as fast-decoded: the main
    // loop runs only where the input limit holds.
    auto fastDecoded = [&] { return kTail || static_cast<size_t>(outLimit - out) >= kMarginRoom; };
    // Where the main loop stops for the input, whether the tail loop takes
    // the next symbol: the symbol just decoded started with `countThere`
    // bits in the buffer, and the refill after it would have read 7 bytes
    // ahead of its start.
    auto tailGoesOn = [&](unsigned countThere) {
        const uint8_t* const symbolStart = in - (countThere >> 3);
        return static_cast<size_t>(outLimit - out) >= kMarginRoom && inEnd - symbolStart - 7 >= kFastMinInput;
    };

    if (!roomFor(0)) return finish(FastResult::Stopped);
    refill();
    // `e` is always the first-level entry of the next literal/length code,
    // looked up ahead; at the top of the loop the buffer holds 56 bits or
    // more. Literals are tested first: they are the bulk of the symbols and
    // never need a sub-table link followed.
    TableEntry e = litTable[hold & kLiteralLengthMask];
    for (;;) {
        if (IsLiteral(e)) {
            // Up to three literals per refill in the main loop: they take at
            // most 45 of the 56 bits, and the 8-byte load left 64 real bits
            // in the buffer, so the look-up after the third still sees a
            // whole code.
            unsigned countAtSymbol = count;
            consume(EntryBits(e));
            *out++ = static_cast<uint8_t>(EntryValue(e));
            e = litTable[hold & kLiteralLengthMask];
            if (!kTail && IsLiteral(e)) {
                countAtSymbol = count;
                consume(EntryBits(e));
                *out++ = static_cast<uint8_t>(EntryValue(e));
                e = litTable[hold & kLiteralLengthMask];
                if (IsLiteral(e)) {
                    countAtSymbol = count;
                    consume(EntryBits(e));
                    *out++ = static_cast<uint8_t>(EntryValue(e));
                    e = litTable[hold & kLiteralLengthMask];
                }
            }
            if (!roomFor(0)) {
                toTail = !kTail && tailGoesOn(countAtSymbol);
                break;
            }
            refill();
            continue;
        }
        if (IsLink(e)) {
            e = FollowLink(litTable, e, hold >> kLiteralLengthRootBits);
            if (IsLiteral(e)) continue;
        }
        if (!IsBase(e)) {
            if (EntryKind(e) == kKindEnd) {
                consume(EntryBits(e));
                return finish(FastResult::EndOfBlock);
            }
            return finish(fastDecoded() ? FastResult::InvalidCode : FastResult::Stopped);
        }
        unsigned extra = EntryExtraBits(e);
        if (extra == kLongLengthExtraBits) break;
        const unsigned countAtLength = count;
        consume(EntryBits(e));
        const size_t length = EntryValue(e) + LowBits(hold, extra);
        consume(extra);

        e = distance.entries[hold & kDistanceMask];
        if (IsLink(e)) e = FollowLink(distance.entries, e, hold >> kDistanceRootBits);
        if (!IsBase(e)) {
            if (fastDecoded()) return finish(FastResult::InvalidCode);
            pending.length = static_cast<uint32_t>(length);
            return finish(FastResult::PendingDistance);
        }
        consume(EntryBits(e));
        extra = EntryExtraBits(e);
        const size_t dist = EntryValue(e) + LowBits(hold, extra);
        consume(extra);
        if (dist > windowSize) return finish(FastResult::InvalidCode);

        if (length > static_cast<size_t>(outLimit - out)) {
            pending.length = static_cast<uint32_t>(length);
            pending.distance = static_cast<uint32_t>(dist);
            return finish(FastResult::PendingCopy);
        }
        // The next code is looked up before the copy, so that its table
        // load overlaps the copying.
        const bool more = roomFor(length);
        if (more) {
            refill();
            e = litTable[hold & kLiteralLengthMask];
        }
        // The source lies `dist` back or, where that is before the window's
        // start, in the part before the wrap, at or after `out`; a forward
        // copy in words is right both ways. Only a source that runs over the
        // window's end needs two runs.
        const size_t behind = static_cast<size_t>(out - start);
        const size_t from = behind - dist + (dist > behind ? windowSize : 0);
        if (from + length <= windowSize) {
            CopyForwardInWords(out, start + from, length);
        } else {
            const size_t firstRun = windowSize - from;
            std::memmove(out, start + from, firstRun);
            CopyForward(out + firstRun, start, length - firstRun);
        }
        out += length;
        if (!more) {
            toTail = !kTail && tailGoesOn(countAtLength);
            break;
        }
    }
    return finish(FastResult::Stopped);
}

}  // namespace

FastResult InflateFast(const Table& literalLength, const Table& distance, BitBuffer& bits, Window& window,
                       TInflateRec& rec, PendingMatch& pending) {
    bool toTail = false;
    if (rec.AvailIn >= kFarInput) {
        const FastResult r = FastLoop<false>(literalLength, distance, bits, window, rec, pending, toTail);
        if (!toTail) return r;
    }
    return FastLoop<true>(literalLength, distance, bits, window, rec, pending, toTail);
}

}  // namespace inflate_impl
