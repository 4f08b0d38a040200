#include "archive/codec/inflate_tables.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace inflate_impl {
namespace {

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kLiteralLengthSymbols = 288;
constexpr unsigned kDistanceSymbols = 32;
constexpr unsigned kCodeLengthSymbols = 19;

constexpr uint32_t MakeTemplate(uint32_t kind, uint32_t value) { return (value << 16) | (kind << 8); }

// Lengths 257..285 and distances 0..29 as every Deflate decoder knows them;
// Deflate64 changes only length 285 and adds distances 30 and 31.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                        49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                        2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                        7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr unsigned kLength285 = 285;
constexpr uint16_t kDeflate64Length285Base = 3;

struct Templates {
    std::array<uint32_t, kLiteralLengthSymbols> literalLength{};
    std::array<uint32_t, kDistanceSymbols> distance{};
};

Templates MakeTemplates(bool deflate64) {
    Templates t;
    for (unsigned sym = 0; sym < kLiteralLengthSymbols; ++sym) {
        if (sym < 256) {
            t.literalLength[sym] = MakeTemplate(kKindSymbol, sym);
        } else if (sym == 256) {
            t.literalLength[sym] = MakeTemplate(kKindEnd, 0);
        } else if (sym <= kLength285) {
            unsigned i = sym - 257;
            uint32_t base = kLengthBase[i], extra = kLengthExtra[i];
            if (deflate64 && sym == kLength285) {
                base = kDeflate64Length285Base;
                extra = kLongLengthExtraBits;
            }
            t.literalLength[sym] = MakeTemplate(kKindBase | extra, base);
        } else {
            t.literalLength[sym] = MakeTemplate(kKindInvalid, 0);  // 286 and 287
        }
    }
    for (unsigned sym = 0; sym < kDistanceSymbols; ++sym) {
        t.distance[sym] = (sym < 30 || deflate64) ? MakeTemplate(kKindBase | kDistanceExtra[sym], kDistanceBase[sym])
                                                   : MakeTemplate(kKindInvalid, 0);
    }
    return t;
}

const Templates& VariantTemplates(bool deflate64) {
    static const Templates deflate = MakeTemplates(false);
    static const Templates deflate64Templates = MakeTemplates(true);
    return deflate64 ? deflate64Templates : deflate;
}

const std::array<uint32_t, kCodeLengthSymbols>& CodeLengthTemplates() {
    static const std::array<uint32_t, kCodeLengthSymbols> templates = [] {
        std::array<uint32_t, kCodeLengthSymbols> t{};
        for (unsigned sym = 0; sym < kCodeLengthSymbols; ++sym) t[sym] = MakeTemplate(kKindSymbol, sym);
        return t;
    }();
    return templates;
}

// An invalid entry claims the width of its table level: a decoder holding
// fewer bits than that cannot yet tell it from a valid longer code.
constexpr TableEntry InvalidEntry(unsigned width) { return MakeTemplate(kKindInvalid, 0) | width; }

// Advances a code of `len` bits stored bit-reversed (the order the decoder
// reads it in) to the next canonical code.
unsigned NextReversedCode(unsigned code, unsigned len) {
    unsigned step = 1u << (len - 1);
    while (code & step) step >>= 1;
    return step ? (code & (step - 1)) + step : 0;
}

}  // namespace

const uint32_t* SymbolTemplates(Alphabet alphabet, bool deflate64) {
    switch (alphabet) {
        case Alphabet::LiteralLength: return VariantTemplates(deflate64).literalLength.data();
        case Alphabet::Distance: return VariantTemplates(deflate64).distance.data();
        case Alphabet::CodeLength: return CodeLengthTemplates().data();
    }
    return nullptr;
}

TableStatus BuildTable(const uint8_t* lengths, unsigned count, const uint32_t* templates,
                       unsigned rootBits, bool allowIncomplete, TableEntry* space,
                       unsigned capacity, unsigned& used, Table& table) {
    unsigned lengthCount[kMaxCodeBits + 1] = {};
    for (unsigned sym = 0; sym < count; ++sym) ++lengthCount[lengths[sym]];

    unsigned maxLen = kMaxCodeBits;
    while (maxLen > 0 && lengthCount[maxLen] == 0) --maxLen;
    if (maxLen == 0) return TableStatus::Empty;

    int codesLeft = 1;  // unused codes of the current length
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
        codesLeft = codesLeft * 2 - static_cast<int>(lengthCount[len]);
        if (codesLeft < 0) return TableStatus::Oversubscribed;
    }
    const bool complete = codesLeft == 0;
    if (!complete && maxLen > 1 && !allowIncomplete) return TableStatus::Incomplete;


    // Symbols in canonical order: by code length, then by symbol.
    unsigned offset[kMaxCodeBits + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeBits; ++len) offset[len + 1] = offset[len] + lengthCount[len];
    uint16_t sorted[kLiteralLengthSymbols];
    for (unsigned sym = 0; sym < count; ++sym) {
        if (lengths[sym] != 0) sorted[offset[lengths[sym]]++] = static_cast<uint16_t>(sym);
    }
    const unsigned symbols = offset[kMaxCodeBits];

    const unsigned rootSize = 1u << rootBits;
    if (rootSize > capacity) return TableStatus::NoSpace;
    // Where the first level is wider than the longest code, a missing code
    // is known as such after the longest code's bits, as with a narrower level.
    std::fill(space, space + rootSize, InvalidEntry(std::min(rootBits, maxLen)));
    unsigned taken = rootSize;

    unsigned code = 0;                 // current code, bit-reversed
    unsigned currentPrefix = ~0u;      // first-level index of the open sub-table
    TableEntry* subTable = nullptr;
    unsigned subBits = 0;
    for (unsigned i = 0; i < symbols; ++i) {
        const unsigned sym = sorted[i];
        const unsigned len = lengths[sym];
        const TableEntry entry = templates[sym] | len;
        if (len <= rootBits) {
            for (unsigned index = code; index < rootSize; index += 1u << len) space[index] = entry;
        } else {
            const unsigned prefix = code & (rootSize - 1);
            if (prefix != currentPrefix) {
                // Size the sub-table for the codes still to come under this prefix.
                subBits = len - rootBits;
                int room = 1 << subBits;
                while (subBits + rootBits < maxLen) {
                    room -= static_cast<int>(lengthCount[subBits + rootBits]);
                    if (room <= 0) break;
                    ++subBits;
                    room <<= 1;
                }
                const unsigned subSize = 1u << subBits;
                if (taken + subSize > capacity) return TableStatus::NoSpace;
                subTable = space + taken;
                std::fill(subTable, subTable + subSize, InvalidEntry(rootBits + subBits));
                space[prefix] = (taken << 16) | (kKindLink << 8) | (subSize - 1);
                taken += subSize;
                currentPrefix = prefix;
            }
            for (unsigned index = code >> rootBits; index < (1u << subBits); index += 1u << (len - rootBits)) {
                subTable[index] = entry;
            }
        }
        --lengthCount[len];
        code = NextReversedCode(code, len);
    }

    used = taken;
    table.entries = space;
    table.rootBits = rootBits;
    if (complete) return TableStatus::Complete;
    return maxLen == 1 ? TableStatus::SingleShortCode : TableStatus::Incomplete;
}

void FixedTables(bool deflate64, int distanceCount, Table& literalLength, Table& distance) {
    struct FixedSet {
        bool built = false;
        TableEntry space[kFixedTableSpaceEntries];
        Table literalLength, distance;
    };
    // One set per Deflate64 switch and distance count (30 or 32).
    static FixedSet sets[2][2];
    FixedSet& set = sets[deflate64][distanceCount == 32];
    if (!set.built) {
        uint8_t lengths[kLiteralLengthSymbols];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        unsigned litUsed = 0, distUsed = 0;
        TableStatus s = BuildTable(lengths, kLiteralLengthSymbols, SymbolTemplates(Alphabet::LiteralLength, deflate64),
                                   kLiteralLengthRootBits, false, set.space, kFixedTableSpaceEntries, litUsed,
                                   set.literalLength);
        assert(s == TableStatus::Complete);
        std::fill(lengths, lengths + kDistanceSymbols, 5);
        s = BuildTable(lengths, static_cast<unsigned>(distanceCount), SymbolTemplates(Alphabet::Distance, deflate64),
                       kDistanceRootBits, true, set.space + litUsed, kFixedTableSpaceEntries - litUsed, distUsed,
                       set.distance);
        assert(s == TableStatus::Complete || s == TableStatus::Incomplete);
        (void)s;
        set.built = true;
    }
    literalLength = set.literalLength;
    distance = set.distance;
}

}  // namespace inflate_impl
