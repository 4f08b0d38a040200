// The Shrink, Reduce and Implode decoders on any stream, decoded three ways:
// from one buffer; from a source that hands the bytes out in small uneven
// pieces; and with a sink that stops the entry after its first block. All
// must agree: the same bytes and the same result for the first two, a prefix
// of them and nothing after the stop for the third. Every run must stay
// within the declared size, hand on blocks of at most 32 KiB, end with a
// known result, and never ask the source again once it said the data ended.
//
// Input: method selector (1 to 6), flags, declared size (3 bytes, little
// endian, at most 1 MiB), piece-size seed, then the compressed bytes.

#include "archive/codec/legacy_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeader = 6;
constexpr uint64_t kMaxDeclared = 1 << 20;

struct Decoded {
    std::vector<uint8_t> bytes;
    LegacyResult result;
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

bool KnownResult(const LegacyResult& result) {
    switch (result.fault) {
        case LegacyFault::None: return !result.raised;
        case LegacyFault::BadBlock:
        case LegacyFault::StackOverflow: return result.raised;
        case LegacyFault::AmbiguousTree: return true;
        default: return false;
    }
}

// Piece sizes cycle through 1 to 4 times the seed, plus one, so that block
// and byte boundaries fall everywhere; stopAfterBlocks < 0 never stops.
Decoded DecodeInPieces(uint32_t method, uint16_t flags, uint64_t declared, const uint8_t* data, size_t size,
                       uint8_t seed, int stopAfterBlocks) {
    Decoded decoded;
    size_t position = 0;
    unsigned piece = 0;
    bool ended = false;
    auto source = [&](uint8_t* buffer, int32_t capacity) {
        if (ended) Fail("the source was read again after it said the data ended");
        const size_t want = (seed % 61) * (1 + piece++ % 4) + 1;
        const size_t count = std::min({size - position, want, static_cast<size_t>(capacity)});
        std::memcpy(buffer, data + position, count);
        position += count;
        ended = count == 0;
        return static_cast<int32_t>(count);
    };
    int blocks = 0;
    bool stopped = false;
    auto sink = [&](const uint8_t* bytes, int32_t count) {
        if (stopped) Fail("a block was handed on after the sink stopped the entry");
        if (count <= 0 || count > LegacyOutput::kBlockSize) Fail("a block of an impossible size");
        decoded.bytes.insert(decoded.bytes.end(), bytes, bytes + count);
        stopped = stopAfterBlocks >= 0 && ++blocks > stopAfterBlocks;
        return !stopped;
    };
    DecodeLegacyEntry(method, flags, declared, source, sink,
                      [&](const LegacyResult& error) { decoded.result = error; });
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) return 0;
    const uint32_t method = 1 + data[0] % 6;
    const uint16_t flags = data[1];
    const uint64_t declared = (data[2] | data[3] << 8 | data[4] << 16) % (kMaxDeclared + 1);
    const uint8_t seed = data[5];
    const uint8_t* packed = data + kHeader;
    const size_t packedSize = size - kHeader;

    Decoded whole;
    whole.result = DecodeLegacyBuffer(method, flags, packed, packedSize, declared, whole.bytes);
    if (whole.bytes.size() > declared) Fail("more bytes than declared");
    if (!KnownResult(whole.result)) Fail("an unknown result");

    const Decoded pieces = DecodeInPieces(method, flags, declared, packed, packedSize, seed, -1);
    if (pieces.bytes != whole.bytes) Fail("decoding in pieces gave other bytes");
    if (pieces.result.fault != whole.result.fault || pieces.result.raised != whole.result.raised)
        Fail("decoding in pieces ended otherwise");

    const Decoded stopped = DecodeInPieces(method, flags, declared, packed, packedSize, seed, 0);
    if (stopped.bytes.size() > whole.bytes.size() ||
        !std::equal(stopped.bytes.begin(), stopped.bytes.end(), whole.bytes.begin()))
        Fail("a stopped entry handed on bytes the whole decode did not");
    return 0;
}
