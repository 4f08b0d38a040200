#include "archive/decoders/inflate_fast.h"

#include <cstring>

#include "archive/decoders/match_copy.h"

namespace inflate_impl {
namespace {

inline uint64_t LoadLittleEndian64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline uint64_t LowBits(uint64_t value, unsigned n) { return value & ((uint64_t{1} << n) - 1); }

constexpr uint64_t kLiteralLengthMask = (uint64_t{1} << kLiteralLengthRootBits) - 1;
constexpr uint64_t kDistanceMask = (uint64_t{1} << kDistanceRootBits) - 1;

}  // namespace

FastResult InflateFast(const Table& literalLength, const Table& distance, BitBuffer& bits, Window& window,
                       TInflateRec& rec, PendingMatch& pending) {
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
        return static_cast<size_t>(outLimit - out) >= kFastMinRoom + queued && inEnd - in >= kFastMinInput;
    };
    // Tops the bit buffer up to 56 bits or more with one 8-byte load. The
    // bits above `count` are then the input's next bits as well.
    auto refill = [&] {
        hold |= LoadLittleEndian64(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
    };
    auto consume = [&](unsigned n) {
        hold >>= n;
        count -= n;
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
            // Up to three literals per refill: they take at most 45 of the
            // 56 bits, and the 8-byte load left 64 real bits in the buffer,
            // so the look-up after the third still sees a whole code.
            consume(EntryBits(e));
            *out++ = static_cast<uint8_t>(EntryValue(e));
            e = litTable[hold & kLiteralLengthMask];
            if (IsLiteral(e)) {
                consume(EntryBits(e));
                *out++ = static_cast<uint8_t>(EntryValue(e));
                e = litTable[hold & kLiteralLengthMask];
                if (IsLiteral(e)) {
                    consume(EntryBits(e));
                    *out++ = static_cast<uint8_t>(EntryValue(e));
                    e = litTable[hold & kLiteralLengthMask];
                }
            }
            if (!roomFor(0)) break;
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
            return finish(FastResult::InvalidCode);
        }
        unsigned extra = EntryExtraBits(e);
        if (extra == kLongLengthExtraBits) break;
        consume(EntryBits(e));
        const size_t length = EntryValue(e) + LowBits(hold, extra);
        consume(extra);

        e = distance.entries[hold & kDistanceMask];
        if (IsLink(e)) e = FollowLink(distance.entries, e, hold >> kDistanceRootBits);
        if (!IsBase(e)) return finish(FastResult::InvalidCode);
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
        if (!more) break;
    }
    return finish(FastResult::Stopped);
}

}  // namespace inflate_impl
