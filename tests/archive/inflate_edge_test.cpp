// Hand-made streams for the edges of the format and of the decoder: the
// Deflate / Deflate64 differences, the code tables it accepts or refuses,
// argument checks and the out-of-memory paths.

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "tests/archive/inflate_test_support.h"

using namespace inflate_test;

namespace {

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// --- Streams -----------------------------------------------------------------

// Fixed block: 'a', a match of length 3 at distance code `distSymbol` (extra bits 0), end.
Bytes FixedMatchWithDistanceCode(unsigned distSymbol, unsigned extraBits) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.FixedLiteralLength('a');
    w.FixedLiteralLength(257);
    w.FixedDistance(distSymbol);
    w.Put(0, extraBits);
    w.FixedLiteralLength(256);
    return w.Finish();
}

Bytes FixedWithSymbol(unsigned symbol) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.FixedLiteralLength('a');
    w.FixedLiteralLength(symbol);
    w.FixedLiteralLength(256);
    return w.Finish();
}

Bytes Stored(const std::string& text, uint16_t nlenXor) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(0, 2);
    w.AlignToByte();
    w.Put(static_cast<uint32_t>(text.size()), 16);
    w.Put(static_cast<uint32_t>(~text.size() & 0xFFFF) ^ nlenXor, 16);
    for (char c : text) w.PutByte(static_cast<uint8_t>(c));
    return w.Finish();
}

// 'x', then a match of length 5 at distance 3: two bytes before the start.
Bytes DistanceBeforeStart() {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.FixedLiteralLength('x');
    w.FixedLiteralLength(259);  // length 5
    w.FixedDistance(2);         // distance 3
    w.FixedLiteralLength(256);
    return w.Finish();
}

std::vector<uint8_t> Lengths(size_t n, std::initializer_list<std::pair<unsigned, uint8_t>> set) {
    std::vector<uint8_t> l(n, 0);
    for (auto [sym, len] : set) l.at(sym) = len;
    return l;
}

// A dynamic block with the given code lengths; when the codes allow it, the
// data is 'a', a match of length 3 at distance 1, and the end of the block.
Bytes Dynamic(const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist, bool withMatch) {
    BitWriter w;
    DynamicCodes codes = WriteDynamicHeader(w, true, lit, dist);
    if (lit['a']) codes.Literal(w, 'a');
    if (withMatch) {
        codes.Literal(w, 257);
        codes.Distance(w, 0);
    }
    codes.Literal(w, 256);
    return w.Finish();
}

// 200 literals, then matches of length 3 through the two 15-bit distance
// codes (distances 193 and 129): codes that run 9 bits past the distance
// table's first level.
Bytes LongestDistanceCodes() {
    std::vector<uint8_t> lit(258, 0);
    for (unsigned c = 'a'; c < 'a' + 16; ++c) lit[c] = 5;
    lit[256] = lit[257] = 2;
    std::vector<uint8_t> dist(16);
    for (unsigned i = 0; i < 14; ++i) dist[i] = static_cast<uint8_t>(i + 1);
    dist[14] = dist[15] = 15;
    BitWriter w;
    DynamicCodes codes = WriteDynamicHeader(w, true, lit, dist);
    for (unsigned i = 0; i < 200; ++i) codes.Literal(w, 'a' + i % 13);
    for (unsigned symbol : {15u, 14u}) {
        codes.Literal(w, 257);
        codes.Distance(w, symbol);
        w.Put(0, 6);
    }
    codes.Literal(w, 256);
    return w.Finish();
}

std::string LongestDistanceCodesOutput() {
    std::string out;
    for (unsigned i = 0; i < 200; ++i) out += static_cast<char>('a' + i % 13);
    out += out.substr(200 - 193, 3);
    out += out.substr(203 - 129, 3);
    return out;
}

// A dynamic header whose code-length code has only the symbols given
// (16, 17, 18, 0 in the stored order), followed by `body` bits.
Bytes CodeLengthCode(std::initializer_list<unsigned> lengths16_17_18_0, std::function<void(BitWriter&)> body) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(0, 5);  // HLIT: 257 codes
    w.Put(0, 5);  // HDIST: 1 code
    w.Put(0, 4);  // HCLEN: 4 code-length lengths
    for (unsigned l : lengths16_17_18_0) w.Put(l, 3);
    body(w);
    return w.Finish();
}

struct EdgeCase {
    std::string name;
    bool deflate64;
    Bytes stream;
    int code;             // 1 for a good stream, or the error
    std::string output;   // for a good stream
};

std::vector<EdgeCase> EdgeCases() {
    const std::string zeros3(3, '\0');
    std::vector<EdgeCase> cases = {
        {"FixedDistanceCode30Deflate", false, FixedMatchWithDistanceCode(30, 0), kInflateDataError, ""},
        {"FixedDistanceCode30Deflate64", true, FixedMatchWithDistanceCode(30, 14), kInflateStreamEnd, "a" + zeros3},
        {"FixedDistanceCode31Deflate64", true, FixedMatchWithDistanceCode(31, 14), kInflateStreamEnd, "a" + zeros3},
        {"LiteralLength286Deflate", false, FixedWithSymbol(286), kInflateDataError, ""},
        {"LiteralLength286Deflate64", true, FixedWithSymbol(286), kInflateDataError, ""},
        {"LiteralLength287Deflate64", true, FixedWithSymbol(287), kInflateDataError, ""},
        {"StoredBlock", false, Stored("stored bytes", 0), kInflateStreamEnd, "stored bytes"},
        {"StoredBlockBadNlen", false, Stored("stored bytes", 0x0100), kInflateDataError, ""},
        {"DistanceBeforeStartDeflate", false, DistanceBeforeStart(), kInflateStreamEnd, std::string("x\0\0x\0\0", 6)},
        {"DistanceBeforeStartDeflate64", true, DistanceBeforeStart(), kInflateStreamEnd, std::string("x\0\0x\0\0", 6)},
        {"BlockType3", false, Bytes{0x07}, kInflateDataError, ""},
    };
    // HDIST = 30 (31 distance codes): refused by Deflate only.
    const auto lit = Lengths(258, {{'a', 1}, {256, 2}, {257, 2}});
    const auto dist31 = Lengths(31, {{0, 1}, {30, 1}});
    cases.push_back({"Hdist30Deflate", false, Dynamic(lit, dist31, true), kInflateDataError, ""});
    cases.push_back({"Hdist30Deflate64", true, Dynamic(lit, dist31, true), kInflateStreamEnd, "aaaa"});
    // HLIT = 30 (287 literal/length codes): refused by Deflate only.
    const auto lit287 = Lengths(287, {{'a', 1}, {256, 2}, {257, 2}});
    const auto dist1 = Lengths(1, {{0, 1}});
    cases.push_back({"Hlit30Deflate", false, Dynamic(lit287, dist1, true), kInflateDataError, ""});
    cases.push_back({"Hlit30Deflate64", true, Dynamic(lit287, dist1, true), kInflateStreamEnd, "aaaa"});
    // Which code tables are accepted.
    cases.push_back({"LiteralCodeOversubscribed", false,
                     Dynamic(Lengths(258, {{'a', 1}, {256, 1}, {257, 1}}), dist1, true), kInflateDataError, ""});
    cases.push_back({"LiteralCodeIncomplete", false,
                     Dynamic(Lengths(258, {{'a', 2}, {256, 2}, {257, 2}}), dist1, true), kInflateDataError, ""});
    cases.push_back({"LiteralCodeSingleOneBitCode", false, Dynamic(Lengths(257, {{256, 1}}), Lengths(1, {}), false),
                     kInflateStreamEnd, ""});
    cases.push_back({"DistanceCodeIncomplete", false, Dynamic(lit, Lengths(3, {{0, 2}, {1, 2}, {2, 2}}), true),
                     kInflateDataError, ""});
    cases.push_back({"DistanceCodeSingleOneBitCode", false, Dynamic(lit, dist1, true), kInflateStreamEnd, "aaaa"});
    cases.push_back({"NoDistanceCodesOnlyLiterals", false, Dynamic(Lengths(257, {{'a', 1}, {256, 1}}), Lengths(1, {}), false),
                     kInflateStreamEnd, "a"});
    cases.push_back({"NoDistanceCodesWithLengthCodes", false,
                     Dynamic(Lengths(258, {{'a', 1}, {256, 1}}), Lengths(1, {}), false), kInflateDataError, ""});
    // A code without the end-of-block symbol is complete and read as such: the
    // block never ends, so the stream only runs out of input.
    cases.push_back({"NoEndOfBlockCode", false, Dynamic(Lengths(257, {{'a', 1}, {'b', 1}}), Lengths(1, {}), false),
                     kInflateBufError, ""});
    cases.push_back({"DistanceCode15BitsDeflate", false, LongestDistanceCodes(), kInflateStreamEnd,
                     LongestDistanceCodesOutput()});
    cases.push_back({"DistanceCode15BitsDeflate64", true, LongestDistanceCodes(), kInflateStreamEnd,
                     LongestDistanceCodesOutput()});
    // The code-length code and its repeat symbols.
    cases.push_back({"CodeLengthCodeIncomplete", false, CodeLengthCode({0, 0, 0, 1}, [](BitWriter&) {}),
                     kInflateDataError, ""});
    cases.push_back({"RepeatWithoutPreviousLength", false,
                     CodeLengthCode({1, 0, 0, 1}, [](BitWriter& w) { w.PutCode(1, 1); w.Put(0, 2); }),
                     kInflateDataError, ""});
    cases.push_back({"RepeatPastTheLastLength", false, CodeLengthCode({0, 0, 1, 1}, [](BitWriter& w) {
                         w.PutCode(1, 1);  // 18: 11 + 127 zeros
                         w.Put(127, 7);
                         w.PutCode(1, 1);
                         w.Put(127, 7);
                     }),
                     kInflateDataError, ""});
    return cases;
}

class InflateEdge : public testing::TestWithParam<EdgeCase> {};

TEST_P(InflateEdge, DecodesOrRefuses) {
    const EdgeCase& c = GetParam();
    const InflateVariant variant = VariantOf(c.deflate64);
    // Alone the stream goes through the codes decoder's own steps; with
    // padding after it, also through the fast path.
    const Bytes& plain = c.stream;
    Bytes padded = c.stream;
    padded.resize(padded.size() + 32, 0);
    for (const Bytes* input : {&plain, static_cast<const Bytes*>(&padded)}) {
        for (size_t inChunk : {input->size(), size_t{1}}) {
            Decoded d = Decode(variant, *input, inChunk, 64);
            EXPECT_EQ(d.code, c.code) << "input " << input->size() << " in pieces of " << inChunk;
            if (c.code == kInflateStreamEnd) {
                EXPECT_EQ(Str(d.out), c.output);
                EXPECT_EQ(d.totalIn, c.stream.size());
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, InflateEdge, testing::ValuesIn(EdgeCases()),
                         [](const testing::TestParamInfo<EdgeCase>& info) { return info.param.name; });

TEST(InflateEdge, DataErrorIsFinal) {
    Bytes stream = FixedWithSymbol(286);
    TInflateRec rec;
    ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
    Bytes out(16);
    rec.NextIn = stream.data();
    rec.AvailIn = static_cast<int32_t>(stream.size());
    rec.NextOut = out.data();
    rec.AvailOut = static_cast<int32_t>(out.size());
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateDataError);
    EXPECT_EQ(rec.TotalOut, 1u) << "the literal before the bad code is delivered";
    const Bytes good = Stored("ok", 0);
    rec.NextIn = good.data();
    rec.AvailIn = static_cast<int32_t>(good.size());
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateDataError);
    EXPECT_EQ(InflateReset(&rec), kInflateOk);
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateStreamEnd) << "a reset starts a new stream";
    EXPECT_EQ(InflateEnd(&rec), kInflateOk);
}

// A distance before the start reads zeros also after a restart of the same
// record, whatever was decoded before.
TEST(InflateEdge, DistanceBeforeStartReadsZerosAfterReset) {
    const Bytes filler = ZlibDeflate(RandomBytes(70000, 1), 6);
    const Bytes probe = DistanceBeforeStart();
    TInflateRec rec;
    ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
    Bytes out(80000);
    rec.NextIn = filler.data();
    rec.AvailIn = static_cast<int32_t>(filler.size());
    rec.NextOut = out.data();
    rec.AvailOut = static_cast<int32_t>(out.size());
    ASSERT_EQ(Inflate(&rec, kInflateNoFlush), kInflateStreamEnd);
    ASSERT_EQ(InflateReset(&rec), kInflateOk);
    rec.NextIn = probe.data();
    rec.AvailIn = static_cast<int32_t>(probe.size());
    rec.NextOut = out.data();
    rec.AvailOut = static_cast<int32_t>(out.size());
    ASSERT_EQ(Inflate(&rec, kInflateNoFlush), kInflateStreamEnd);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), rec.TotalOut), std::string("x\0\0x\0\0", 6));
    InflateEnd(&rec);
}

TEST(InflateInit, WindowBitsPerVariant) {
    struct Row {
        bool deflate64;
        int windowBits;
        int code;
    };
    const Row rows[] = {
        {false, -15, kInflateOk}, {false, -8, kInflateOk},  {false, -7, kInflateStreamError},
        {false, -16, kInflateStreamError}, {true, -15, kInflateOk},   {true, -7, kInflateOk},
        {true, -16, kInflateStreamError},  {true, -6, kInflateStreamError}, {false, 15, kInflateStreamError},
    };
    for (const Row& row : rows) {
        const InflateVariant variant = VariantOf(row.deflate64);
        TInflateRec rec;
        EXPECT_EQ(InflateInit(&rec, row.windowBits, kInflateRecordCheck, variant), row.code)
            << "Deflate64 " << row.deflate64 << ", window bits " << row.windowBits;
        EXPECT_EQ(rec.State != nullptr, row.code == kInflateOk) << "a refused init leaves no state";
        if (rec.State) {
            EXPECT_EQ(InflateEnd(&rec), kInflateOk);
        }
    }
}

TEST(InflateInit, SmallestWindowDecodesNearMatches) {
    // zlib's smallest raw window (9 bits) keeps its distances within 250
    // bytes, so the 256-byte window of -8 holds them.
    const Bytes data = RepetitiveBytes(50000);
    z_stream zs{};
    ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -9, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes packed(deflateBound(&zs, data.size()));
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = packed.data();
    zs.avail_out = static_cast<uInt>(packed.size());
    ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    packed.resize(zs.total_out);
    deflateEnd(&zs);
    Decoded d = Decode(packed, packed.size(), 100, -8);
    EXPECT_EQ(d.code, kInflateStreamEnd);
    EXPECT_TRUE(d.out == data);
}

// A distance the window cannot hold is refused rather than read from the
// wrong place: with window bits -8 (256 bytes, or 512 under Deflate64, where
// the fast path runs too) a distance of 1,000 fails.
TEST(InflateInit, DistanceBeyondTheWindowIsADataError) {
    for (bool deflate64 : {false, true}) {
        const InflateVariant variant = VariantOf(deflate64);
        BitWriter w;
        w.Put(1, 1);
        w.Put(1, 2);
        w.FixedLiteralLength('x');
        w.FixedLiteralLength(257);
        w.FixedDistance(19);  // 769 + 8 extra bits
        w.Put(231, 8);
        w.FixedLiteralLength(256);
        Bytes stream = w.Finish();
        stream.resize(stream.size() + 16, 0);  // lets the fast path run
        EXPECT_EQ(Decode(variant, stream, stream.size(), 64, -8).code, kInflateDataError);
        EXPECT_EQ(Decode(variant, stream, 1, 64, -8).code, kInflateDataError);
        Decoded wide = Decode(variant, stream, stream.size(), 64, -15);
        EXPECT_EQ(wide.code, kInflateStreamEnd);
        EXPECT_EQ(wide.out, (Bytes{'x', 0, 0, 0}));
    }
}

TEST(InflateInit, ArgumentChecks) {
    TInflateRec rec;
    EXPECT_EQ(InflateInit(&rec, -15, 73), kInflateVersionError);
    EXPECT_EQ(InflateInit(nullptr, -15, kInflateRecordCheck), kInflateStreamError);
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateStreamError) << "no state";
    EXPECT_EQ(InflateReset(&rec), kInflateStreamError);
    EXPECT_EQ(InflateEnd(&rec), kInflateStreamError);
    ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
    EXPECT_NE(rec.AllocFunc, nullptr) << "the default pair is installed";
    rec.NextIn = nullptr;
    EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateStreamError);
    TFreeFunc free = rec.FreeFunc;
    rec.FreeFunc = nullptr;
    EXPECT_EQ(InflateEnd(&rec), kInflateStreamError);
    rec.FreeFunc = free;
    EXPECT_EQ(InflateEnd(&rec), kInflateOk);
}

// A record with only one of its two hooks gets the default pair, so that no
// block is released by a function other than its allocator's partner.
TEST(InflateInit, OneMissingHookInstallsTheDefaultPair) {
    auto refuse = [](uint32_t, uint32_t, uint32_t) -> void* { return nullptr; };
    auto ignore = [](uint32_t, void*) {};
    TInflateRec allocOnly;
    allocOnly.AllocFunc = refuse;
    TInflateRec freeOnly;
    freeOnly.FreeFunc = ignore;
    for (TInflateRec* rec : {&allocOnly, &freeOnly}) {
        ASSERT_EQ(InflateInit(rec, -15, kInflateRecordCheck), kInflateOk);
        EXPECT_EQ(rec->AllocFunc, &InflateDefaultAlloc);
        EXPECT_EQ(rec->FreeFunc, &InflateDefaultFree);
        EXPECT_EQ(InflateEnd(rec), kInflateOk);
    }
}

// --- Out of memory -------------------------------------------------------------

// Allocation hooks that fail one chosen allocation and check that every
// block is released exactly once.
struct Heap {
    int failAt = 0;  // 1-based number of the allocation to refuse; 0 none
    int allocations = 0;
    std::set<void*> live;
    bool badFree = false;
};
Heap* gHeap = nullptr;

void* CountingAlloc(uint32_t, uint32_t items, uint32_t size) {
    if (++gHeap->allocations == gHeap->failAt) return nullptr;
    void* p = InflateDefaultAlloc(0, items, size);
    gHeap->live.insert(p);
    return p;
}

void CountingFree(uint32_t, void* p) {
    if (gHeap->live.erase(p) == 0) gHeap->badFree = true;
    else InflateDefaultFree(0, p);
}

// Every allocation, refused once in turn, gives -4; the decoder then carries
// on (or, at initialisation, starts again) and produces the right bytes.
TEST(InflateMemory, EachFailedAllocationReportsAndRecovers) {
    Bytes data = LicenceText();
    data.resize(60000);
    Bytes stream = ZlibDeflate(data, 9);                    // dynamic blocks
    Bytes fixed = ZlibDeflate(data, 6, Z_FIXED);            // fixed blocks
    Bytes storedStream = ZlibDeflate(Bytes(data.begin(), data.begin() + 1000), 0);
    for (const Bytes* input : {&stream, &fixed, &storedStream}) {
        for (int failAt = 1; failAt <= 8; ++failAt) {
            Heap heap;
            heap.failAt = failAt;
            gHeap = &heap;
            TInflateRec rec;
            rec.AllocFunc = CountingAlloc;
            rec.FreeFunc = CountingFree;
            int code = InflateInit(&rec, -15, kInflateRecordCheck);
            bool sawMemError = code == kInflateMemError;
            if (code == kInflateMemError) {
                EXPECT_EQ(rec.State, nullptr);
                code = InflateInit(&rec, -15, kInflateRecordCheck);
            }
            ASSERT_EQ(code, kInflateOk);
            Bytes out(data.size() + 10);
            rec.NextIn = input->data();
            rec.AvailIn = static_cast<int32_t>(input->size());
            rec.NextOut = out.data();
            rec.AvailOut = static_cast<int32_t>(out.size());
            for (int calls = 0; calls < 10; ++calls) {
                code = Inflate(&rec, kInflateNoFlush);
                if (code == kInflateMemError) sawMemError = true;
                else if (code != kInflateOk) break;
            }
            EXPECT_EQ(code, kInflateStreamEnd) << "allocation " << failAt;
            const size_t expected = input == &storedStream ? 1000 : data.size();
            EXPECT_TRUE(Bytes(out.begin(), out.begin() + static_cast<long>(rec.TotalOut)) ==
                        Bytes(data.begin(), data.begin() + static_cast<long>(expected)));
            if (failAt <= heap.allocations) {
                EXPECT_TRUE(sawMemError) << "allocation " << failAt;
            }
            EXPECT_EQ(InflateEnd(&rec), kInflateOk);
            EXPECT_TRUE(heap.live.empty()) << "allocation " << failAt << ": leaked blocks";
            EXPECT_FALSE(heap.badFree) << "allocation " << failAt << ": a block released twice";
            gHeap = nullptr;
        }
    }
}

// Ending or resetting a stream in the middle of a dynamic header or of a
// block releases what the header or block holds, once.
TEST(InflateMemory, EndAndResetInTheMiddleReleaseOnce) {
    Bytes data = LicenceText();
    const Bytes stream = ZlibDeflate(data, 9);
    for (size_t cut : {size_t{1}, size_t{3}, size_t{10}, size_t{40}, size_t{2000}}) {
        for (bool reset : {false, true}) {
            Heap heap;
            gHeap = &heap;
            TInflateRec rec;
            rec.AllocFunc = CountingAlloc;
            rec.FreeFunc = CountingFree;
            ASSERT_EQ(InflateInit(&rec, -15, kInflateRecordCheck), kInflateOk);
            Bytes out(100000);
            rec.NextIn = stream.data();
            rec.AvailIn = static_cast<int32_t>(cut);
            rec.NextOut = out.data();
            rec.AvailOut = static_cast<int32_t>(out.size());
            EXPECT_EQ(Inflate(&rec, kInflateNoFlush), kInflateOk);
            if (reset) {
                EXPECT_EQ(InflateReset(&rec), kInflateOk);
            }
            EXPECT_EQ(InflateEnd(&rec), kInflateOk);
            EXPECT_TRUE(heap.live.empty()) << "cut " << cut;
            EXPECT_FALSE(heap.badFree) << "cut " << cut;
            gHeap = nullptr;
        }
    }
}

}  // namespace
