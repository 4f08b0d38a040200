#include "archive/codec/shannon_fano_tree.h"

#include <algorithm>

#include "archive/codec/legacy_bit_reader.h"
#include "archive/codec/legacy_error.h"

namespace {

[[noreturn]] void Ambiguous(bool raised) { throw LegacyDataError{LegacyFault::AmbiguousTree, raised}; }

struct CodeLength {
    unsigned length;
    int32_t symbol;
    uint32_t code = 0;
};

}  // namespace

ShannonFanoTree::ShannonFanoTree(int32_t symbols)
    : symbols_(symbols),
      root_(2 * symbols - 1),
      nextNode_(2 * symbols - 2),
      tableBits_(symbols > 64 ? 10 : 8),
      nodes_(static_cast<size_t>(2 * symbols)) {}

bool ShannonFanoTree::Read(LegacyBitReader& in) {
    const int32_t bytes = in.ReadBits(8);
    if (bytes < 0) return false;
    std::vector<CodeLength> lengths;
    for (int32_t i = 0; i <= bytes; ++i) {
        const int32_t run = in.ReadBits(8);
        if (run < 0) return false;
        const int32_t count = (run >> 4) + 1;
        const auto length = static_cast<unsigned>((run & 15) + 1);
        // Symbols past the tree's own would be taken for its inner nodes.
        if (static_cast<int32_t>(lengths.size()) + count > symbols_) Ambiguous(false);
        for (int32_t k = 0; k < count; ++k) lengths.push_back({length, static_cast<int32_t>(lengths.size())});
    }
    std::stable_sort(lengths.begin(), lengths.end(),
                     [](const CodeLength& a, const CodeLength& b) { return a.length < b.length; });

    // Codes count up from the longest; a shorter length takes bigger steps.
    uint32_t code = 0, step = 0;
    unsigned lastLength = 0;
    for (auto it = lengths.rbegin(); it != lengths.rend(); ++it) {
        code = (code + step) & 0xFFFF;
        if (it->length != lastLength) {
            lastLength = it->length;
            step = 1u << (16 - lastLength);
        }
        it->code = code >> (16 - it->length);
    }
    for (auto it = lengths.rbegin(); it != lengths.rend(); ++it) Insert(it->symbol, it->code, it->length);
    BuildTable();
    return true;
}

// The code's highest bit is read first.
void ShannonFanoTree::Insert(int32_t symbol, uint32_t code, unsigned length) {
    int32_t node = root_;
    for (unsigned bit = length - 1; bit >= 1; --bit) {
        int32_t& link = nodes_[static_cast<size_t>(node)].link[(code >> bit) & 1];
        if (link == kNone) {
            // A tree needing more inner nodes than a full one has is no valid code.
            if (nextNode_ < symbols_) Ambiguous(false);
            link = nextNode_--;
        } else if (IsLeaf(link)) {
            Ambiguous(false);
        }
        node = link;
    }
    int32_t& leaf = nodes_[static_cast<size_t>(node)].link[code & 1];
    if (leaf != kNone) Ambiguous(true);
    leaf = symbol;
}

void ShannonFanoTree::BuildTable() {
    table_.assign(size_t{1} << tableBits_, Entry{Entry::Missing, static_cast<uint8_t>(tableBits_), 0});
    Fill(root_, 0, 0);
}

// Gives every table index that starts with the depth bits of prefix (first
// bit lowest) what the link reached there leads to.
void ShannonFanoTree::Fill(int32_t link, unsigned depth, uint32_t prefix) {
    if (link == kNone) return;  // the table's default
    if (!IsLeaf(link) && depth < tableBits_) {
        const Node& node = nodes_[static_cast<size_t>(link)];
        Fill(node.link[0], depth + 1, prefix);
        Fill(node.link[1], depth + 1, prefix | (1u << depth));
        return;
    }
    const Entry entry{IsLeaf(link) ? Entry::Symbol : Entry::Node, static_cast<uint8_t>(depth),
                      static_cast<int16_t>(link)};
    for (uint32_t index = prefix; index < table_.size(); index += 1u << depth) table_[index] = entry;
}

int32_t ShannonFanoTree::MissingCode() { Ambiguous(true); }

int32_t ShannonFanoTree::Walk(LegacyBitReader& in, int32_t node) const {
    while (!IsLeaf(node)) {
        const int32_t bit = in.ReadBits(1);
        if (bit < 0) return 0;
        node = nodes_[static_cast<size_t>(node)].link[bit];
        if (node == kNone) Ambiguous(true);
    }
    return node;
}
