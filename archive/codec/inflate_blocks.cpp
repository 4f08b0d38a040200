#include "archive/codec/inflate_blocks.h"

#include <algorithm>
#include <cstring>

#include "archive/codec/inflate_memory.h"

namespace inflate_impl {
namespace {

constexpr unsigned kStoredBlock = 0;
constexpr unsigned kFixedBlock = 1;
constexpr unsigned kDynamicBlock = 2;

// Order in which the code-length code's lengths are stored.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr unsigned HeaderLiteralCodes(uint32_t header) { return 257 + (header & 0x1F); }
constexpr unsigned HeaderDistanceCodes(uint32_t header) { return 1 + ((header >> 5) & 0x1F); }
constexpr unsigned HeaderCodeLengthCodes(uint32_t header) { return 4 + ((header >> 10) & 0x0F); }

// Stands in for the distance table of a block that has only literals.
const TableEntry kNoDistances[1] = {kKindInvalid << 8};

void ReleaseCodeLengths(BlockDecoder& s, TInflateRec& rec) {
    Release(rec, s.codeLengths);
    s.codeLengths = nullptr;
}

BlockResult Fail(BlockDecoder& s, TInflateRec& rec, BlockResult result) {
    ReleaseCodeLengths(s, rec);
    s.mode = BlockMode::Bad;
    return result;
}

enum class TablesBuilt { Ok, DataError, NoSpace };

// Builds the two tables of a dynamic block from the decoded code lengths.
TablesBuilt BuildDynamicTables(BlockDecoder& s, bool deflate64, Table& literalLength, Table& distance) {
    const unsigned literalCodes = HeaderLiteralCodes(s.header);
    const unsigned distanceCodes = HeaderDistanceCodes(s.header);
    unsigned used = 0;
    switch (BuildTable(s.codeLengths, literalCodes, SymbolTemplates(Alphabet::LiteralLength, deflate64),
                       kLiteralLengthRootBits, false, s.tableSpace, kTableSpaceEntries, used, literalLength)) {
        case TableStatus::Complete:
        case TableStatus::SingleShortCode: break;
        case TableStatus::NoSpace: return TablesBuilt::NoSpace;
        default: return TablesBuilt::DataError;
    }
    unsigned distanceUsed = 0;
    switch (BuildTable(s.codeLengths + literalCodes, distanceCodes, SymbolTemplates(Alphabet::Distance, deflate64),
                       kDistanceRootBits, false, s.tableSpace + used, kTableSpaceEntries - used,
                       distanceUsed, distance)) {
        case TableStatus::Complete:
        case TableStatus::SingleShortCode: break;
        case TableStatus::Empty:
            // Only literals and end-of-block can follow.
            if (literalCodes != 257) return TablesBuilt::DataError;
            distance = Table{kNoDistances, 0};
            break;
        case TableStatus::NoSpace: return TablesBuilt::NoSpace;
        default: return TablesBuilt::DataError;
    }
    return TablesBuilt::Ok;
}

}  // namespace

BlockResult RunBlocks(BlockDecoder& s, TInflateRec& rec) {
    BitReader reader(s.bits, rec);
    BlockResult result = BlockResult::Suspended;
    bool running = true;
    while (running) {
        switch (s.mode) {
            case BlockMode::Type: {
                if (!reader.Need(3)) {
                    running = false;
                    break;
                }
                const uint32_t header = reader.Peek(3);
                const unsigned type = header >> 1;
                if (type == kFixedBlock) {
                    CodesDecoder* codes = Create<CodesDecoder>(rec);
                    if (!codes) {
                        result = BlockResult::MemError;
                        running = false;
                        break;
                    }
                    FixedTables(s.deflate64, s.deflate64 ? 32 : 30, codes->literalLength,
                                codes->distance);
                    s.codes = codes;
                    s.mode = BlockMode::Codes;
                } else if (type == kStoredBlock) {
                    s.mode = BlockMode::Lens;
                } else if (type == kDynamicBlock) {
                    s.mode = BlockMode::Table;
                } else {
                    result = Fail(s, rec, BlockResult::DataError);
                    running = false;
                    break;
                }
                s.lastBlock = header & 1;
                reader.Drop(3);
                if (type == kStoredBlock) reader.DropToByteBoundary();
                break;
            }

            case BlockMode::Lens: {
                if (!reader.Need(32)) {
                    running = false;
                    break;
                }
                const uint32_t length = reader.Take(16);
                const uint32_t complement = reader.Take(16);
                if ((length ^ 0xFFFF) != complement) {
                    result = Fail(s, rec, BlockResult::DataError);
                    running = false;
                    break;
                }
                reader.ReturnWholeBytes();  // the stored bytes are taken straight from the input
                s.storedLeft = length;
                s.mode = length ? BlockMode::Stored : (s.lastBlock ? BlockMode::Dry : BlockMode::Type);
                break;
            }

            case BlockMode::Stored:
                while (s.storedLeft > 0) {
                    if (rec.AvailIn <= 0 || !s.window.EnsureRoom(rec)) {
                        running = false;
                        break;
                    }
                    const size_t n = std::min({static_cast<size_t>(s.storedLeft), static_cast<size_t>(rec.AvailIn),
                                               s.window.Room()});
                    std::memcpy(s.window.write, rec.NextIn, n);
                    s.window.write += n;
                    rec.NextIn += n;
                    rec.AvailIn -= static_cast<int32_t>(n);
                    rec.TotalIn += n;
                    s.storedLeft -= static_cast<uint32_t>(n);
                }
                if (s.storedLeft == 0) s.mode = s.lastBlock ? BlockMode::Dry : BlockMode::Type;
                break;

            case BlockMode::Table: {
                if (!reader.Need(14)) {
                    running = false;
                    break;
                }
                const uint32_t header = reader.Peek(14);
                if (!s.deflate64 && ((header & 0x1F) > 29 || ((header >> 5) & 0x1F) > 29)) {
                    result = Fail(s, rec, BlockResult::DataError);
                    running = false;
                    break;
                }
                const unsigned entries = HeaderLiteralCodes(header) + HeaderDistanceCodes(header);
                s.codeLengths = static_cast<uint8_t*>(Allocate(rec, entries, 1));
                if (!s.codeLengths) {
                    result = BlockResult::MemError;  // the header stays unread: a later call may retry
                    running = false;
                    break;
                }
                reader.Drop(14);
                s.header = header;
                s.index = 0;
                s.mode = BlockMode::BTree;
                break;
            }

            case BlockMode::BTree: {
                const unsigned given = HeaderCodeLengthCodes(s.header);
                while (s.index < given) {
                    if (!reader.Need(3)) break;
                    s.codeLengths[kCodeLengthOrder[s.index++]] = static_cast<uint8_t>(reader.Take(3));
                }
                if (s.index < given) {
                    running = false;
                    break;
                }
                for (unsigned i = given; i < 19; ++i) s.codeLengths[kCodeLengthOrder[i]] = 0;
                unsigned used = 0;
                const TableStatus status =
                    BuildTable(s.codeLengths, 19, SymbolTemplates(Alphabet::CodeLength, false), kCodeLengthRootBits,
                               false, s.tableSpace, kTableSpaceEntries, used, s.codeLengthTable);
                if (status != TableStatus::Complete) {
                    result = Fail(s, rec, status == TableStatus::NoSpace ? BlockResult::MemError
                                                                         : BlockResult::DataError);
                    running = false;
                    break;
                }
                s.index = 0;
                s.mode = BlockMode::DTree;
                break;
            }

            case BlockMode::DTree: {
                const unsigned total = HeaderLiteralCodes(s.header) + HeaderDistanceCodes(s.header);
                while (s.index < total) {
                    // The code and its extra bits are taken together, so a
                    // repeat never stops half read. The code-length table has
                    // no sub-tables: its width is at least its longest code.
                    const uint64_t hold = reader.Hold();
                    const TableEntry e = s.codeLengthTable.entries[hold & ((uint64_t{1} << s.codeLengthTable.rootBits) - 1)];
                    if (EntryBits(e) > reader.Count()) {
                        if (!reader.PullByte()) break;
                        continue;
                    }
                    const unsigned symbol = EntryValue(e);
                    if (symbol < 16) {
                        reader.Drop(EntryBits(e));
                        s.codeLengths[s.index++] = static_cast<uint8_t>(symbol);
                        continue;
                    }
                    const unsigned extraBits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
                    if (!reader.Need(EntryBits(e) + extraBits)) break;
                    reader.Drop(EntryBits(e));
                    const unsigned repeat = (symbol == 18 ? 11 : 3) + reader.Take(extraBits);
                    if (s.index + repeat > total || (symbol == 16 && s.index == 0)) {
                        result = Fail(s, rec, BlockResult::DataError);
                        running = false;
                        break;
                    }
                    const uint8_t value = symbol == 16 ? s.codeLengths[s.index - 1] : 0;
                    std::fill(s.codeLengths + s.index, s.codeLengths + s.index + repeat, value);
                    s.index += repeat;
                }
                if (!running) break;
                if (s.index < total) {
                    running = false;
                    break;
                }
                Table literalLength, distance;
                const TablesBuilt built = BuildDynamicTables(s, s.deflate64, literalLength, distance);
                if (built != TablesBuilt::Ok) {
                    result = Fail(s, rec, built == TablesBuilt::NoSpace ? BlockResult::MemError
                                                                        : BlockResult::DataError);
                    running = false;
                    break;
                }
                CodesDecoder* codes = Create<CodesDecoder>(rec);
                if (!codes) {
                    // The lengths are kept: a later call builds the tables again and retries.
                    result = BlockResult::MemError;
                    running = false;
                    break;
                }
                codes->literalLength = literalLength;
                codes->distance = distance;
                ReleaseCodeLengths(s, rec);
                s.codes = codes;
                s.mode = BlockMode::Codes;
                break;
            }

            case BlockMode::Codes: {
                const CodesResult r = RunCodes(*s.codes, s.bits, s.window, rec);
                if (r == CodesResult::Suspended) {
                    running = false;
                    break;
                }
                if (r == CodesResult::DataError) {
                    result = Fail(s, rec, BlockResult::DataError);
                    running = false;
                    break;
                }
                Destroy(rec, s.codes);
                if (s.lastBlock) {
                    reader.ReturnWholeBytes();
                    s.mode = BlockMode::Dry;
                } else {
                    s.mode = BlockMode::Type;
                }
                break;
            }

            case BlockMode::Dry:
                s.window.Flush(rec);
                if (!s.window.Drained()) {
                    running = false;
                    break;
                }
                s.mode = BlockMode::Done;
                break;

            case BlockMode::Done:
                return BlockResult::StreamEnd;

            case BlockMode::Bad:
                result = BlockResult::DataError;
                running = false;
                break;
        }
    }
    // Whatever stopped the call, deliver what has been decoded.
    s.window.Flush(rec);
    return result;
}

void ResetBlocks(BlockDecoder& s, TInflateRec& rec) {
    Destroy(rec, s.codes);
    ReleaseCodeLengths(s, rec);
    s.mode = BlockMode::Type;
    s.lastBlock = false;
    s.storedLeft = 0;
    s.bits = BitBuffer{};
    s.window.Restart();
}

}  // namespace inflate_impl
