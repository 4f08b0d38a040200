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

// Looks up the entry for the next code, following a sub-table link.
inline TableEntry Lookup(const TableEntry* table, unsigned rootBits, uint64_t rootMask, uint64_t hold) {
    TableEntry e = table[hold & rootMask];
    if (IsLink(e)) e = FollowLink(table, e, hold >> rootBits);
    return e;
}

}  // namespace

FastResult InflateFast(const Table& literalLength, const Table& distance, BitBuffer& bits, Window& window,
                       TInflateRec& rec) {
    const uint8_t* in = rec.NextIn;
    const uint8_t* const inEnd = in + rec.AvailIn;
    uint8_t* out = window.write;
    uint8_t* const outLimit = window.write < window.read ? window.read - 1 : window.end;
    uint8_t* const start = window.start;
    uint8_t* const end = window.end;
    const size_t windowSize = window.Size();
    uint64_t hold = bits.hold;
    unsigned count = bits.count;
    const TableEntry* const litTable = literalLength.entries;
    const unsigned litRoot = literalLength.rootBits;
    const uint64_t litMask = (uint64_t{1} << litRoot) - 1;
    const TableEntry* const distTable = distance.entries;
    const unsigned distRoot = distance.rootBits;
    const uint64_t distMask = (uint64_t{1} << distRoot) - 1;

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

    // Room and input for one more symbol: a literal, or a match of up to 258
    // bytes with 49 bits of codes and extra bits.
    auto canContinue = [&] {
        return static_cast<size_t>(outLimit - out) >= kFastMinRoom && inEnd - in >= kFastMinInput;
    };
    // Tops the bit buffer up to 56 bits or more with one 8-byte load.
    auto refill = [&] {
        hold |= LoadLittleEndian64(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
    };

    FastResult result = FastResult::Stopped;
    if (!canContinue()) return finish(result);
    refill();
    // `e` is always the entry of the next code, looked up ahead; at the top
    // of the loop the buffer holds 56 bits or more.
    TableEntry e = Lookup(litTable, litRoot, litMask, hold);
    for (;;) {
        if (IsLiteral(e)) {
            hold >>= EntryBits(e);
            count -= EntryBits(e);
            *out++ = static_cast<uint8_t>(EntryValue(e));
            // 41 bits or more are left: enough to look up the next code while
            // the refill below adds to the top.
            e = Lookup(litTable, litRoot, litMask, hold);
            if (!canContinue()) break;
            refill();
            continue;
        }
        if (!IsBase(e)) {
            if (EntryKind(e) == kKindEnd) {
                hold >>= EntryBits(e);
                count -= EntryBits(e);
                result = FastResult::EndOfBlock;
            } else {
                result = FastResult::InvalidCode;
            }
            break;
        }
        unsigned extra = EntryExtraBits(e);
        if (extra == kLongLengthExtraBits) break;
        hold >>= EntryBits(e);
        count -= EntryBits(e);
        const size_t length = EntryValue(e) + LowBits(hold, extra);
        hold >>= extra;
        count -= extra;

        e = Lookup(distTable, distRoot, distMask, hold);
        if (!IsBase(e)) {
            result = FastResult::InvalidCode;
            break;
        }
        hold >>= EntryBits(e);
        count -= EntryBits(e);
        extra = EntryExtraBits(e);
        const size_t dist = EntryValue(e) + LowBits(hold, extra);
        hold >>= extra;
        count -= extra;
        if (dist > windowSize) {
            result = FastResult::InvalidCode;
            break;
        }

        const size_t behind = static_cast<size_t>(out - start);
        if (dist <= behind) {
            CopyForward(out, out - dist, length);
            out += length;
        } else {
            // The match starts in the part of the window before the wrap,
            // which lies at or after `out`: copying forward reads it before
            // overwriting it.
            const uint8_t* from = end - (dist - behind);
            size_t firstRun = static_cast<size_t>(end - from);
            if (firstRun >= length) {
                std::memmove(out, from, length);
                out += length;
            } else {
                std::memmove(out, from, firstRun);
                out += firstRun;
                CopyForward(out, start, length - firstRun);
                out += length - firstRun;
            }
        }
        if (!canContinue()) break;
        refill();
        e = Lookup(litTable, litRoot, litMask, hold);
    }
    return finish(result);
}

}  // namespace inflate_impl
