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

inline uint64_t LoadBits(uint64_t hold, unsigned count, const uint8_t*& in) {
    hold |= LoadLittleEndian64(in) << count;
    in += (63 - count) >> 3;
    return hold;
}

inline TableEntry Lookup(const TableEntry* table, unsigned rootBits, uint64_t hold) {
    const TableEntry e = table[hold & ((uint64_t{1} << rootBits) - 1)];
    return IsLink(e) ? FollowLink(table, e, hold >> rootBits) : e;
}

// Where an invalid code is met decides how much input the failing call has
// taken, so that must not depend on how far this fast path runs ahead. The
// rule follows a fast path that refills after every symbol, enters where the
// room is at least kMarginRoom and kFastMinInput bytes are left past the
// bits in use, and goes on after a symbol while the room and the bytes left
// past its last refill (which reads 7 bytes ahead) still meet those limits,
// the codes decoder's own steps taking each symbol in between. If that path
// would decode the invalid code, it is reported here, with the input ending
// at the last whole byte before it; otherwise the codes decoder's steps meet
// it, taking input until the code's width is in. This replays the symbols
// decoded since the entry (all valid) and tells whether that path decodes
// the symbol starting `target` bits after the entry.
constexpr size_t kMarginRoom = 258;

bool MarginPathReaches(const Table& literalLength, const Table& distance, uint64_t hold, unsigned count,
                       const uint8_t* in, const uint8_t* inEnd, size_t room, uint64_t target) {
    const int64_t bytesAfterEntry = inEnd - in;
    // Position in bits from the entry's first unused bit; the bytes in use
    // before it end at byte InUse() from `in` at the entry.
    const int64_t entryBits = count;
    int64_t position = 0;
    auto bytesInUse = [&](int64_t at) { return (at - entryBits + 7 + 64) / 8 - 8; };  // ceil, also below 0
    auto bytesLeft = [&](int64_t at) { return bytesAfterEntry - bytesInUse(at); };
    auto pull = [&] {
        while (count <= 56 && in < inEnd) {
            hold |= uint64_t{*in++} << count;
            count += 8;
        }
    };
    auto consume = [&](unsigned n) {
        hold >>= n;
        count -= n;
        position += n;
    };
    bool fast = room >= kMarginRoom && bytesLeft(position) >= kFastMinInput;
    int64_t refilledAt = position;
    while (position < static_cast<int64_t>(target)) {
        pull();
        TableEntry e = Lookup(literalLength.entries, kLiteralLengthRootBits, hold);
        consume(EntryBits(e));
        if (IsLiteral(e)) {
            room -= 1;
        } else {
            const unsigned lengthExtra = EntryExtraBits(e);
            room -= EntryValue(e) + LowBits(hold, lengthExtra);
            consume(lengthExtra);
            e = Lookup(distance.entries, kDistanceRootBits, hold);
            consume(EntryBits(e) + EntryExtraBits(e));
        }
        if (fast) {
            fast = room >= kMarginRoom && bytesLeft(refilledAt) - 7 >= kFastMinInput;
        } else {
            fast = room >= kMarginRoom && bytesLeft(position) >= kFastMinInput;
        }
        if (fast) refilledAt = position;
    }
    return fast && position == static_cast<int64_t>(target);
}

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
        hold = LoadBits(hold, count, in);
        count |= 56;
    };
    auto consume = [&](unsigned n) {
        hold >>= n;
        count -= n;
    };

    // The entry state, for replaying the symbols before an invalid code.
    const uint64_t entryHold = hold;
    const unsigned entryCount = count;
    const uint8_t* const entryIn = in;
    const size_t entryRoom = static_cast<size_t>(outLimit - out);
    // An invalid code at the symbol that starts with `countThere` bits in
    // the buffer: reported here, or left to the codes decoder's steps.
    auto reportHere = [&](unsigned countThere) {
        const uint64_t target = static_cast<uint64_t>(in - entryIn) * 8 + entryCount - countThere;
        return MarginPathReaches(literalLength, distance, entryHold, entryCount, entryIn, inEnd, entryRoom, target);
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
            return finish(reportHere(count) ? FastResult::InvalidCode : FastResult::Stopped);
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
            if (reportHere(countAtLength)) return finish(FastResult::InvalidCode);
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
        if (!more) break;
    }
    return finish(FastResult::Stopped);
}

}  // namespace inflate_impl
