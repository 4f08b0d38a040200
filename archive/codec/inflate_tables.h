#pragma once

#include <cstdint>

// Multi-level Huffman lookup tables of the inflate decoder.
//
// A table is indexed by the next input bits (least significant first). The
// first level has 2^rootBits entries; codes longer than that go through a
// sub-table linked from the first level. Each entry is packed in 32 bits:
//
//   bits 31..16  value: literal byte, length/distance base, or sub-table offset
//   bits 15..8   kind (below); each kind test is a single bit test
//   bits  7..0   bits to consume: the whole code length for a leaf entry
//
// A link entry instead holds in bits 8..0 the mask of the sub-table index
// (2^width - 1, up to 7 bits under an 8-bit first level), taken from the bits
// that follow the first-level width; its kind leaves bit 8 clear for that.
namespace inflate_impl {

using TableEntry = uint32_t;

constexpr uint32_t kKindSymbol = 0x00;   // literal byte, or code-length symbol
constexpr uint32_t kKindBase = 0x40;     // | extra-bit count (0..16): a length or distance base
constexpr uint32_t kKindLink = 0x20;     // value is the sub-table's offset
constexpr uint32_t kKindEnd = 0x80;      // end of block
constexpr uint32_t kKindInvalid = 0x81;  // a code that must not occur in the data

constexpr uint32_t EntryBits(TableEntry e) { return e & 0xFF; }
constexpr uint32_t EntryKind(TableEntry e) { return (e >> 8) & 0xFF; }
constexpr uint32_t EntryValue(TableEntry e) { return e >> 16; }
constexpr uint32_t EntryExtraBits(TableEntry e) { return (e >> 8) & 0x1F; }
constexpr bool IsLiteral(TableEntry e) { return (e & 0xFF00) == 0; }
constexpr bool IsBase(TableEntry e) { return (e & (kKindBase << 8)) != 0; }
constexpr bool IsLink(TableEntry e) { return (e & (kKindLink << 8)) != 0; }

static_assert((kKindLink & 1) == 0, "bit 8 of a link entry belongs to its index mask");

// The entry a link leads to, given the bits that follow the first level.
inline TableEntry FollowLink(const TableEntry* table, TableEntry link, uint64_t bitsAfterRoot) {
    return table[EntryValue(link) + (bitsAfterRoot & (link & 0x1FF))];
}

// A length code that needs more than the fast path's bit preload: Deflate64's
// length code 285 (16 extra bits, lengths up to 65,538).
constexpr uint32_t kLongLengthExtraBits = 16;

// First-level widths, the same for every table of a kind, so that the fast
// path indexes with constant masks. Wide first levels let nearly every code
// resolve in one look-up; longer codes go through sub-tables. Code-length
// codes are at most 7 bits long and need none.
constexpr unsigned kLiteralLengthRootBits = 10;
constexpr unsigned kDistanceRootBits = 8;
constexpr unsigned kCodeLengthRootBits = 7;

// Space for the largest tables any valid set of code lengths can need. A
// sub-table of 2^s entries is a complete subtree holding at least s + 1
// codes, at most 2^(15 - root) entries; so 288 literal/length codes need at
// most 2^10 + 48 * 32 entries, and 32 distance codes 2^8 + 4 * 128.
constexpr unsigned kLiteralLengthTableEntries = (1u << kLiteralLengthRootBits) + 48 * 32;
constexpr unsigned kDistanceTableEntries = (1u << kDistanceRootBits) + 4 * 128;
constexpr unsigned kTableSpaceEntries = kLiteralLengthTableEntries + kDistanceTableEntries;
// The fixed code's lengths (at most 9 and 5 bits) need first levels only.
constexpr unsigned kFixedTableSpaceEntries = (1u << kLiteralLengthRootBits) + (1u << kDistanceRootBits);

struct Table {
    const TableEntry* entries = nullptr;
    unsigned rootBits = 0;
};

enum class TableStatus {
    Complete,
    SingleShortCode,  // incomplete, but its only code is one bit long
    Incomplete,       // built only when incomplete codes are allowed
    Oversubscribed,   // not built
    Empty,            // no code lengths at all; not built
    NoSpace,          // the code needs more entries than the space holds
};

// What each symbol of an alphabet decodes to, before the code length is
// filled in. The length and distance alphabets depend on the variant.
enum class Alphabet { LiteralLength, Distance, CodeLength };
const uint32_t* SymbolTemplates(Alphabet alphabet, bool deflate64);

// Builds the table of `count` code lengths into `space`, with a first level
// of `rootBits`. `used` receives the
// entries taken. Incomplete codes are built only when `allowIncomplete` is
// set or the longest code is one bit; their missing codes decode as invalid.
TableStatus BuildTable(const uint8_t* lengths, unsigned count, const uint32_t* templates,
                       unsigned rootBits, bool allowIncomplete, TableEntry* space,
                       unsigned capacity, unsigned& used, Table& table);

// The fixed-code tables of a variant (the Deflate64 switch and the fixed-code
// distance count, 30 or 32), built on first use and kept for the life of the
// process.
void FixedTables(bool deflate64, int distanceCount, Table& literalLength, Table& distance);

}  // namespace inflate_impl
