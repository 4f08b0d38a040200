#pragma once

#include <cstdint>
#include <vector>

#include "archive/codec/legacy_bit_reader.h"

// One Shannon-Fano tree of an imploded entry, built from its coded bit
// lengths, with a lookup table over its first bits for fast decoding.
class ShannonFanoTree {
public:
    // symbols: 256 for the literal tree, 64 for the length and distance trees.
    explicit ShannonFanoTree(int32_t symbols);

    // Reads the tree's description and builds it. False when the data ends
    // first. Throws LegacyDataError: AmbiguousTree reported when a code runs into
    // another's leaf or the description lists more lengths than the tree
    // has symbols (nothing is decoded then), AmbiguousTree raised when two symbols
    // get the same code.
    bool Read(LegacyBitReader& in);

    // The next symbol; 0 when the data ends inside it. Throws LegacyDataError
    // (raised AmbiguousTree) for a code the tree does not have.
    int32_t Decode(LegacyBitReader& in) const {
        if (!in.Ensure(tableBits_)) return Walk(in, root_);
        const Entry entry = table_[in.Peek(tableBits_)];
        in.Drop(entry.bits);
        if (entry.kind == Entry::Symbol) return entry.value;
        return entry.kind == Entry::Node ? Walk(in, entry.value) : MissingCode();
    }

private:
    struct Node {
        int32_t link[2] = {kNone, kNone};  // leaf symbol, node index above the leaves, or kNone
    };
    // A table entry: a symbol and the bits of its code, a node to go on from
    // after all the table's bits, or a missing code after `bits` bits.
    struct Entry {
        enum Kind : uint8_t { Symbol, Node, Missing } kind;
        uint8_t bits;
        int16_t value;
    };
    static constexpr int32_t kNone = -1;

    bool IsLeaf(int32_t link) const { return link >= 0 && link < symbols_; }
    void Insert(int32_t symbol, uint32_t code, unsigned length);
    void BuildTable();
    void Fill(int32_t link, unsigned depth, uint32_t prefix);
    int32_t Walk(LegacyBitReader& in, int32_t node) const;
    [[noreturn]] static int32_t MissingCode();

    int32_t symbols_;
    int32_t root_;
    int32_t nextNode_;
    unsigned tableBits_;
    std::vector<Node> nodes_;
    std::vector<Entry> table_;
};
