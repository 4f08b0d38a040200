#pragma once

// Hand-made Shrink, Reduce and Implode streams for the legacy decoder tests:
// an LSB-first bit writer, and a tiny imploder for the window and tree
// variants no fixture has.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace legacy_test {

class BitWriter {
public:
    void Put(uint32_t value, unsigned bits) {
        for (unsigned i = 0; i < bits; ++i) {
            if (count_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() = static_cast<char>(bytes_.back() | (1 << (count_ % 8)));
            ++count_;
        }
    }
    // A Shannon-Fano code: its highest bit first.
    void PutCode(uint32_t code, unsigned length) {
        for (unsigned bit = length; bit-- > 0;) Put((code >> bit) & 1, 1);
    }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    unsigned count_ = 0;
};

// Shrink codes, all of one width.
inline std::string ShrinkCodes(const std::vector<uint32_t>& codes, unsigned width = 9) {
    BitWriter out;
    for (uint32_t code : codes) out.Put(code, width);
    return out.Bytes();
}

// Reduce data with every follower set empty: each byte goes out as 8 bits.
inline std::string ReduceBytes(const std::vector<uint8_t>& bytes) {
    BitWriter out;
    for (int i = 0; i < 256; ++i) out.Put(0, 6);
    for (uint8_t b : bytes) out.Put(b, 8);
    return out.Bytes();
}

// A tree description: runs of (count, bit length), count and length 1 to 16.
inline void PutTree(BitWriter& out, const std::vector<std::pair<int, int>>& runs) {
    out.Put(static_cast<uint32_t>(runs.size() - 1), 8);
    for (auto [count, length] : runs) out.Put(static_cast<uint32_t>((count - 1) << 4 | (length - 1)), 8);
}

// Codes of a tree whose symbols all have the same bit length: the highest
// symbol gets code 0, the next 1, and so on.
inline uint32_t FlatCode(int symbol, int symbols) { return static_cast<uint32_t>(symbols - 1 - symbol); }

// Implodes data greedily with flat trees (8-bit literals, 6-bit lengths and
// distances), for the given general-purpose flags (bit 1 8 KiB window, bit 2
// literal tree).
inline std::string Implode(const std::string& data, uint16_t flags) {
    const bool bigWindow = flags & 2, literalTree = flags & 4;
    const unsigned lowBits = bigWindow ? 7 : 6;
    const size_t window = bigWindow ? 8192 : 4096;
    const size_t minLength = literalTree ? 3 : 2;
    const size_t maxLength = minLength + 63 + 255;
    BitWriter out;
    if (literalTree) PutTree(out, {{16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8},
                                   {16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8}, {16, 8}});
    PutTree(out, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});  // lengths
    PutTree(out, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});  // distances
    for (size_t at = 0; at < data.size();) {
        size_t bestLength = 0, bestDistance = 0;
        for (size_t distance = 1; distance <= std::min(at, window); ++distance) {
            size_t length = 0;
            while (at + length < data.size() && length < maxLength && data[at + length] == data[at + length - distance])
                ++length;
            if (length > bestLength) bestLength = length, bestDistance = distance;
        }
        if (bestLength >= minLength) {
            out.Put(0, 1);
            const size_t d = bestDistance - 1;
            out.Put(static_cast<uint32_t>(d & ((1u << lowBits) - 1)), lowBits);
            out.PutCode(FlatCode(static_cast<int>(d >> lowBits), 64), 6);
            const size_t l = bestLength - minLength;
            out.PutCode(FlatCode(static_cast<int>(std::min<size_t>(l, 63)), 64), 6);
            if (l >= 63) out.Put(static_cast<uint32_t>(l - 63), 8);
            at += bestLength;
        } else {
            out.Put(1, 1);
            const auto literal = static_cast<uint8_t>(data[at]);
            if (literalTree)
                out.PutCode(FlatCode(literal, 256), 8);
            else
                out.Put(literal, 8);
            ++at;
        }
    }
    return out.Bytes();
}

}  // namespace legacy_test
