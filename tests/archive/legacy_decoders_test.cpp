// Shrink, Reduce and Implode streams made by hand: the corners real archives
// rarely show, bad data, and the declared size as a hard limit.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive/codec/legacy_decoder.h"
#include "legacy_streams.h"

namespace {

using legacy_test::BitWriter;
using legacy_test::ReduceBytes;
using legacy_test::ShrinkCodes;

struct Decoded {
    std::string bytes;
    LegacyResult result;
};

Decoded Decode(uint32_t method, const std::string& packed, uint64_t size, uint16_t flags = 0) {
    std::vector<uint8_t> out;
    const LegacyResult result = DecodeLegacyBuffer(
        method, flags, reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), size, out);
    return {std::string(out.begin(), out.end()), result};
}

constexpr uint32_t kA = 'a', kB = 'b', kC = 'c', kD = 'd';

TEST(Unshrink, DecodesTheCornersOfTheCodeTable) {
    struct Case {
        const char* what;
        std::vector<uint32_t> codes;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"the first code alone", {kA}, "a"},
        {"codes defined as they are used (previous string plus its first character)", {kA, 257, 258}, "aaaaaa"},
        // 257 "ab" keeps its child 259 "abc"; 258 "ba" and 259 go, and the next
        // string "cd" takes 258, the lowest code freed.
        {"partial clear", {kA, kB, 257, kC, 256, 2, kD, 258, 257}, "ababcdcdab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = Decode(1, ShrinkCodes(c.codes), c.expected.size());
        EXPECT_EQ(d.bytes, c.expected);
        EXPECT_EQ(d.result.fault, LegacyFault::None);
    }
}

TEST(Unshrink, WiderCodesUpToThirteenBits) {
    BitWriter out;
    out.Put(kA, 9);
    unsigned width = 9;
    for (; width < 13; ++width) out.Put(256, width), out.Put(1, width);
    out.Put(kB, width);
    out.Put(257, width);
    EXPECT_EQ(Decode(1, out.Bytes(), 4).bytes, "abab");

    // One step more is refused, after what was decoded.
    out.Put(256, width);
    out.Put(1, width);
    const Decoded refused = Decode(1, out.Bytes(), 100);
    EXPECT_EQ(refused.bytes, "abab");
    EXPECT_EQ(refused.result.fault, LegacyFault::BadBlock);
    EXPECT_TRUE(refused.result.raised);
}

TEST(Unshrink, RefusesBadCodes) {
    struct Case {
        const char* what;
        std::string packed;
        std::string before;  // decoded before the error
        LegacyFault fault;
    };
    const std::vector<Case> cases = {
        {"no first code", "", "", LegacyFault::BadBlock},
        {"a first code that is no literal", ShrinkCodes({300}), "", LegacyFault::BadBlock},
        {"control code 256 then 3", ShrinkCodes({kA, 256, 3}), "a", LegacyFault::BadBlock},
        {"control code 256 at the end", ShrinkCodes({kA, kB, 256}), "ab", LegacyFault::BadBlock},
        // 257 is freed by the clear while it is still the previous code; the
        // string after the clear takes 257 and points at itself.
        {"a string deeper than the stack", ShrinkCodes({kA, kB, 257, 256, 2, kC, 257}), "ababc", LegacyFault::StackOverflow},
        // 258 is built on 300, a code never defined.
        {"a string built on a free code", ShrinkCodes({kA, 300, kB, 258}), "aaab", LegacyFault::BadBlock},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = Decode(1, c.packed, 100);
        EXPECT_EQ(d.bytes, c.before);
        EXPECT_EQ(d.result.fault, c.fault);
        EXPECT_TRUE(d.result.raised);
    }
}

TEST(Unreduce, ExpandsRuns) {
    struct Case {
        const char* what;
        int method;
        std::vector<uint8_t> bytes;
        std::string expected;
    };
    std::string ab137 = "ab";
    while (ab137.size() < 137) ab137 += ab137[ab137.size() - 2];
    const std::vector<Case> cases = {
        {"144 then 0 is a plain 144", 2, {'x', 144, 0, 'y'}, "x\x90y"},
        // Factor 1: the 7-bit length field full (127) takes a byte more: 127 + 5 + 3.
        {"factor 1 long run", 2, {'a', 'b', 144, 0x7F, 5, 1}, ab137},
        {"a run reaching before the first byte reads zeros", 3, {'q', 144, 1, 9}, std::string("q") + std::string(4, '\0')},
        // Every symbol sits in whole bytes, the last one in the final byte.
        {"the symbol in the final byte", 2, {'x', 'y', 'z'}, "xyz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = Decode(static_cast<uint32_t>(c.method), ReduceBytes(c.bytes), c.expected.size());
        EXPECT_EQ(d.bytes, c.expected);
        EXPECT_EQ(d.result.fault, LegacyFault::None);
    }
}

TEST(Unreduce, UsesFollowerSets) {
    // The set of byte 0 (the one before the first) is "pq", that of 'q' is "r".
    BitWriter out;
    for (int c = 255; c >= 0; --c) {
        if (c == 0) {
            out.Put(2, 6), out.Put('p', 8), out.Put('q', 8);
        } else if (c == 'q') {
            out.Put(1, 6), out.Put('r', 8);
        } else {
            out.Put(0, 6);
        }
    }
    out.Put(0, 1), out.Put(1, 1);  // follower 1 of byte 0: 'q'
    out.Put(0, 1), out.Put(0, 1);  // follower 0 of 'q': 'r'
    out.Put('s', 8);  // 'r' has no set: a plain byte
    EXPECT_EQ(Decode(2, out.Bytes(), 3).bytes, "qrs");
}

TEST(Unreduce, RefusesSetsItCannotHold) {
    BitWriter tooLong;
    tooLong.Put(33, 6);
    for (int i = 0; i < 33; ++i) tooLong.Put('a', 8);

    BitWriter outside;  // the set of byte 0 has 3 bytes; index 3 is outside it
    for (int c = 255; c >= 0; --c) {
        outside.Put(c == 0 ? 3 : 0, 6);
        if (c == 0) outside.Put('a', 8), outside.Put('b', 8), outside.Put('c', 8);
    }
    outside.Put(0, 1), outside.Put(3, 2);

    for (const std::string& packed : {tooLong.Bytes(), outside.Bytes()}) {
        const Decoded d = Decode(5, packed, 10);
        EXPECT_EQ(d.result.fault, LegacyFault::BadBlock);
        EXPECT_TRUE(d.result.raised);
        EXPECT_EQ(d.bytes, "");
    }
}

// All four window and tree variants, with matches reaching 6,000 bytes back
// where the window allows it.
TEST(Explode, EveryVariantRoundTrips) {
    std::mt19937 random(7);
    std::string block(6000, '\0');
    for (char& c : block) c = static_cast<char>('a' + random() % 4);
    const std::string data = std::string(300, 'z') + block + "middle" + block.substr(0, 3000) + std::string(400, 'z');
    for (uint16_t flags : {0, 2, 4, 6}) {
        SCOPED_TRACE(flags);
        const std::string packed = legacy_test::Implode(data, flags);
        const Decoded d = Decode(6, packed, data.size(), flags);
        EXPECT_EQ(d.result.fault, LegacyFault::None);
        EXPECT_TRUE(d.bytes == data);
        // Read with the other window, the far matches land elsewhere.
        if (flags & 2) {
            EXPECT_FALSE(Decode(6, packed, data.size(), flags & ~2).bytes == data);
        }
    }
}

TEST(Explode, DecodesHandMadeMatches) {
    // Two trees, flat 6-bit codes: literal 'x', then length code 63 with
    // an extra 10 (2 + 63 + 10 bytes) at distance 1, then 3 bytes from 128
    // back, before the first byte.
    BitWriter out;
    legacy_test::PutTree(out, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});
    legacy_test::PutTree(out, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});
    out.Put(1, 1), out.Put('x', 8);
    out.Put(0, 1), out.Put(0, 6), out.PutCode(legacy_test::FlatCode(0, 64), 6),
        out.PutCode(legacy_test::FlatCode(63, 64), 6), out.Put(10, 8);
    out.Put(0, 1), out.Put(63, 6), out.PutCode(legacy_test::FlatCode(1, 64), 6),
        out.PutCode(legacy_test::FlatCode(1, 64), 6);
    const Decoded d = Decode(6, out.Bytes(), 79);
    EXPECT_EQ(d.bytes.substr(0, 76), std::string(76, 'x'));
    EXPECT_EQ(d.bytes.substr(76), std::string(3, '\0'));
    EXPECT_EQ(d.result.fault, LegacyFault::None);
}

TEST(Explode, RefusesBadTrees) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, int>> lengthTree;
        bool raised;
    };
    const std::vector<Case> cases = {
        // Three codes of one bit: the third wraps round to the first's code.
        {"two symbols with one code", {{3, 1}}, true},
        {"more lengths than symbols", {{16, 6}, {16, 6}, {16, 6}, {16, 6}, {1, 6}}, false},
        // 64 codes of 16 bits need more inner nodes than the tree has.
        {"more inner nodes than a tree has", {{16, 16}, {16, 16}, {16, 16}, {16, 16}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BitWriter out;
        legacy_test::PutTree(out, c.lengthTree);
        legacy_test::PutTree(out, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});
        out.Put(1, 1), out.Put('x', 8);
        const Decoded d = Decode(6, out.Bytes(), 1);
        EXPECT_EQ(d.result.fault, LegacyFault::AmbiguousTree);
        EXPECT_EQ(d.result.raised, c.raised);
        EXPECT_EQ(d.bytes, "");
    }
}

TEST(Explode, RaisesForACodeTheTreeLacks) {
    // A length tree of one 1-bit code: the bit 1 leads nowhere.
    BitWriter out;
    legacy_test::PutTree(out, {{1, 1}});
    legacy_test::PutTree(out, {{16, 6}, {16, 6}, {16, 6}, {16, 6}});
    out.Put(1, 1), out.Put('x', 8);
    out.Put(0, 1), out.Put(0, 6), out.PutCode(legacy_test::FlatCode(0, 64), 6), out.Put(1, 1);
    out.Put(0, 16);
    const Decoded d = Decode(6, out.Bytes(), 10);
    EXPECT_EQ(d.bytes, "x");
    EXPECT_EQ(d.result.fault, LegacyFault::AmbiguousTree);
    EXPECT_TRUE(d.result.raised);
}

// The buffer entry point is also the fuzzing one: any method number is safe.
TEST(LegacyDecoder, RefusesOtherMethods) {
    for (uint32_t method : {0u, 7u, 8u, 12u, 0xFFFFu}) {
        SCOPED_TRACE(method);
        const Decoded d = Decode(method, std::string(64, '\xA5'), 100);
        EXPECT_EQ(d.result.fault, LegacyFault::UnsupportedMethod);
        EXPECT_FALSE(d.result.raised);
        EXPECT_EQ(d.bytes, "");
    }
}

}  // namespace
