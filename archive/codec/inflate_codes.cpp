#include "archive/codec/inflate_codes.h"

#include <algorithm>
#include <cstring>

#include "archive/codec/inflate_fast.h"
#include "archive/codec/match_copy.h"

namespace inflate_impl {
namespace {

// Finds the entry of the next code, taking input bytes until the entry's
// code is wholly in the buffer. Consumes nothing; false when the input ran out.
bool PeekCode(BitReader& reader, const Table& table, TableEntry& entry) {
    for (;;) {
        const uint64_t hold = reader.Hold();
        TableEntry e = table.entries[hold & ((uint64_t{1} << table.rootBits) - 1)];
        if (IsLink(e)) e = FollowLink(table.entries, e, hold >> table.rootBits);
        if (EntryBits(e) <= reader.Count()) {
            entry = e;
            return true;
        }
        if (!reader.PullByte()) return false;
    }
}

}  // namespace

CodesResult RunCodes(CodesDecoder& c, BitBuffer& bits, Window& window, TInflateRec& rec) {
    BitReader reader(bits, rec);
    for (;;) {
        switch (c.mode) {
            case CodesMode::Start:
                window.WrapWrite();
                if (window.Room() >= kFastMinRoom && rec.AvailIn >= kFastMinInput) {
                    PendingMatch pending;
                    FastResult r = InflateFast(c.literalLength, c.distance, bits, window, rec, pending);
                    if (r == FastResult::EndOfBlock) {
                        c.mode = CodesMode::Wash;
                        break;
                    }
                    if (r == FastResult::PendingDistance) {
                        c.length = pending.length;
                        c.mode = CodesMode::Dist;
                        break;
                    }
                    if (r == FastResult::PendingCopy) {
                        c.length = pending.length;
                        c.distanceValue = pending.distance;
                        c.mode = CodesMode::Copy;
                        break;
                    }
                    if (r == FastResult::InvalidCode) {
                        c.mode = CodesMode::BadCode;
                        break;
                    }
                }
                c.mode = CodesMode::Len;
                break;

            case CodesMode::Len: {
                TableEntry e;
                if (!PeekCode(reader, c.literalLength, e)) return CodesResult::Suspended;
                if (IsLiteral(e)) {
                    reader.Drop(EntryBits(e));
                    c.length = EntryValue(e);
                    c.mode = CodesMode::Lit;
                } else if (IsBase(e)) {
                    reader.Drop(EntryBits(e));
                    c.length = EntryValue(e);
                    c.extraBits = EntryExtraBits(e);
                    c.mode = CodesMode::LenExt;
                } else if (EntryKind(e) == kKindEnd) {
                    reader.Drop(EntryBits(e));
                    c.mode = CodesMode::Wash;
                } else {
                    c.mode = CodesMode::BadCode;
                }
                break;
            }

            case CodesMode::LenExt:
                if (!reader.Need(c.extraBits)) return CodesResult::Suspended;
                c.length += reader.Take(c.extraBits);
                c.mode = CodesMode::Dist;
                break;

            case CodesMode::Dist: {
                TableEntry e;
                if (!PeekCode(reader, c.distance, e)) return CodesResult::Suspended;
                if (!IsBase(e)) {
                    c.mode = CodesMode::BadCode;
                    break;
                }
                reader.Drop(EntryBits(e));
                c.distanceValue = EntryValue(e);
                c.extraBits = EntryExtraBits(e);
                c.mode = CodesMode::DistExt;
                break;
            }

            case CodesMode::DistExt:
                if (!reader.Need(c.extraBits)) return CodesResult::Suspended;
                c.distanceValue += reader.Take(c.extraBits);
                c.mode = c.distanceValue <= window.Size() ? CodesMode::Copy : CodesMode::BadCode;
                break;

            case CodesMode::Copy:
                // In runs bounded by the room at `write` and by the end of the
                // window on the source side; long Deflate64 matches come here.
                while (c.length > 0) {
                    if (!window.EnsureRoom(rec)) return CodesResult::Suspended;
                    const size_t behind = static_cast<size_t>(window.write - window.start);
                    const uint8_t* from = c.distanceValue <= behind
                                              ? window.write - c.distanceValue
                                              : window.end - (c.distanceValue - behind);
                    size_t n = std::min<size_t>(c.length, window.Room());
                    if (from >= window.write) {
                        n = std::min(n, static_cast<size_t>(window.end - from));
                        std::memmove(window.write, from, n);
                    } else {
                        CopyForward(window.write, from, n);
                    }
                    window.write += n;
                    c.length -= static_cast<uint32_t>(n);
                }
                c.mode = CodesMode::Start;
                break;

            case CodesMode::Lit:
                if (!window.EnsureRoom(rec)) return CodesResult::Suspended;
                *window.write++ = static_cast<uint8_t>(c.length);
                c.mode = CodesMode::Start;
                break;

            case CodesMode::Wash:
                window.Flush(rec);
                c.mode = CodesMode::End;
                break;

            case CodesMode::End:
                return CodesResult::EndOfBlock;

            case CodesMode::BadCode:
                return CodesResult::DataError;
        }
    }
}

}  // namespace inflate_impl
