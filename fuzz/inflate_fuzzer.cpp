// The Inflate / Deflate64 decoder on any stream, decoded twice: all input and
// a large output buffer at once, then one input byte per call with one output
// byte per call for the first 4 KiB and odd-sized runs after that (so every
// resumption point is tried without a call per byte of a long output). Both
// must agree on every byte and on how the stream ended. Deflate
// streams are also decoded by zlib, whose verdict and bytes must match, except
// where zlib refuses a distance reaching back before the stream's first byte
// (this decoder copies zero bytes from its fresh window there instead), and
// where zlib reads a block header that this decoder refuses (an empty
// code-length code; no distance codes after more than 257 literal/length
// codes): there the bytes delivered before that header must match. zlib also
// refuses a block whose code has no end-of-block symbol, which this decoder
// reads until its input or a bad code ends it: such a stream must never end
// well here, and must have delivered at least zlib's bytes.
//
// Input: the first byte's low bit chooses Deflate64; the rest is the stream.

#include "archive/codec/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// More output than this is not compared, so that a small input expanding
// without end cannot make one run slow.
constexpr size_t kOutputCap = 256 * 1024;

enum class Ending { StreamEnd, DataError, OutOfInput, Capped };

const char* Name(Ending ending) {
    switch (ending) {
        case Ending::StreamEnd: return "end of stream";
        case Ending::DataError: return "data error";
        case Ending::OutOfInput: return "out of input";
        case Ending::Capped: return "output cap";
    }
    return "?";
}

struct Decoded {
    std::vector<uint8_t> bytes;
    Ending ending = Ending::OutOfInput;
    uint64_t consumed = 0;  // input bytes taken, meaningful at the end of the stream
    bool reachedBeforeStart = false;
    bool missingEndOfBlock = false;
};

[[noreturn]] void Fail(const char* what, const Decoded& a, const Decoded& b) {
    std::fprintf(stderr, "%s: %s after %zu bytes (input %llu) against %s after %zu bytes (input %llu)\n", what,
                 Name(a.ending), a.bytes.size(), static_cast<unsigned long long>(a.consumed), Name(b.ending),
                 b.bytes.size(), static_cast<unsigned long long>(b.consumed));
    std::abort();
}

Ending Classify(int status) {
    if (status == kInflateStreamEnd) return Ending::StreamEnd;
    if (status == kInflateDataError) return Ending::DataError;
    if (status < 0 && status != kInflateBufError) {
        std::fprintf(stderr, "unexpected return code %d\n", status);
        std::abort();
    }
    return Ending::OutOfInput;
}

constexpr size_t kOneByOne = 4096;
constexpr size_t kOddRun = 61;

// Feeds at most `inStep` input bytes per call, and `outStep` output bytes, or
// with outStep 0 the byte-wise schedule above.
Decoded Decode(InflateVariant variant, const uint8_t* data, size_t size, size_t inStep, size_t outStep) {
    Decoded result;
    TInflateRec rec;
    if (InflateInit(&rec, -15, kInflateRecordCheck, variant) != kInflateOk) std::abort();
    std::vector<uint8_t> buffer(outStep ? outStep : kOddRun);
    // The decoder refuses a null input pointer even with nothing to read, so
    // an empty stream is offered as zero bytes at a real address.
    rec.NextIn = data;
    rec.AvailIn = 0;
    size_t offered = 0;
    for (;;) {
        if (rec.AvailIn == 0 && offered < size) {
            rec.NextIn = data + offered;
            rec.AvailIn = static_cast<int32_t>(std::min(inStep, size - offered));
            offered += static_cast<size_t>(rec.AvailIn);
        }
        rec.NextOut = buffer.data();
        const size_t room = outStep ? outStep : result.bytes.size() < kOneByOne ? 1 : kOddRun;
        rec.AvailOut = static_cast<int32_t>(room);
        const int status = Inflate(&rec, kInflateNoFlush);
        result.bytes.insert(result.bytes.end(), buffer.data(), rec.NextOut);
        if (result.bytes.size() >= kOutputCap) {
            result.bytes.resize(kOutputCap);
            result.ending = Ending::Capped;
            break;
        }
        if (status == kInflateOk) continue;
        if (status == kInflateBufError && (rec.AvailIn > 0 || offered < size)) continue;
        result.ending = Classify(status);
        break;
    }
    result.consumed = rec.TotalIn;
    InflateEnd(&rec);
    return result;
}

Decoded DecodeWithZlib(const uint8_t* data, size_t size) {
    Decoded result;
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) std::abort();
    stream.next_in = const_cast<uint8_t*>(data);
    stream.avail_in = static_cast<uInt>(size);
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        result.bytes.insert(result.bytes.end(), buffer.data(), stream.next_out);
        if (result.bytes.size() >= kOutputCap) {
            result.bytes.resize(kOutputCap);
            result.ending = Ending::Capped;
            break;
        }
        if (status == Z_OK) continue;
        result.ending = status == Z_STREAM_END ? Ending::StreamEnd
                        : status == Z_BUF_ERROR ? Ending::OutOfInput
                                                : Ending::DataError;
        result.reachedBeforeStart = stream.msg && std::strcmp(stream.msg, "invalid distance too far back") == 0;
        result.missingEndOfBlock = stream.msg && std::strcmp(stream.msg, "invalid code -- missing end-of-block") == 0;
        break;
    }
    result.consumed = stream.total_in;
    inflateEnd(&stream);
    return result;
}

// A dynamic block header at a bit position, read as the format defines it:
// true when this decoder refuses it by design and zlib reads it, that is a
// code-length code with no codes at all, or no distance codes after more
// than 257 literal/length codes.
bool RefusedByDesign(const uint8_t* data, size_t size, uint64_t bit) {
    auto take = [&](unsigned n) -> int {
        if (bit + n > uint64_t{size} * 8) return -1;
        int value = 0;
        for (unsigned i = 0; i < n; ++i, ++bit) value |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
        return value;
    };
    take(1);
    if (take(2) != 2) return false;
    const int hlit = take(5), hdist = take(5), hclen = take(4);
    if (hclen < 0) return false;
    static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int codeLengths[19] = {};
    for (int i = 0; i < hclen + 4; ++i)
        if ((codeLengths[kOrder[i]] = take(3)) < 0) return false;
    int counts[8] = {};
    for (int length : codeLengths) ++counts[length];
    if (counts[0] == 19) return true;
    std::vector<int> symbols;  // in canonical order
    for (int length = 1; length < 8; ++length)
        for (int symbol = 0; symbol < 19; ++symbol)
            if (codeLengths[symbol] == length) symbols.push_back(symbol);
    auto decode = [&]() -> int {  // canonical decoding, one bit at a time
        int code = 0, first = 0, index = 0;
        for (int length = 1; length < 8; ++length) {
            const int next = take(1);
            if (next < 0) return -1;
            code |= next;
            if (code - counts[length] < first) return symbols[static_cast<size_t>(index + code - first)];
            index += counts[length];
            first = (first + counts[length]) << 1;
            code <<= 1;
        }
        return -1;
    };
    std::vector<int> lengths;
    const size_t total = static_cast<size_t>(257 + hlit + hdist + 1);
    while (lengths.size() < total) {
        const int symbol = decode();
        if (symbol < 0) return false;
        int repeat = 1, value = symbol;
        if (symbol == 16) {
            if (lengths.empty()) return false;
            value = lengths.back();
            repeat = 3 + take(2);
        } else if (symbol == 17) {
            value = 0;
            repeat = 3 + take(3);
        } else if (symbol == 18) {
            value = 0;
            repeat = 11 + take(7);
        }
        if (repeat < 1 || lengths.size() + static_cast<size_t>(repeat) > total) return false;
        lengths.insert(lengths.end(), static_cast<size_t>(repeat), value);
    }
    return hlit > 0 && std::all_of(lengths.begin() + 257 + hlit, lengths.end(), [](int l) { return l == 0; });
}

// The output zlib has delivered when it reaches the first block header that
// this decoder refuses by design, if it reaches one.
std::optional<size_t> ZlibOutputBeforeRefusedBlock(const uint8_t* data, size_t size) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) std::abort();
    stream.next_in = const_cast<uint8_t*>(data);
    stream.avail_in = static_cast<uInt>(size);
    std::vector<uint8_t> buffer(65536);
    std::optional<size_t> found;
    uint64_t headerBit = 0;  // the first header starts the stream
    for (;;) {
        if (RefusedByDesign(data, size, headerBit)) {
            found = stream.total_out;
            break;
        }
        int status = Z_OK;
        do {  // on to the next block boundary
            stream.next_out = buffer.data();
            stream.avail_out = static_cast<uInt>(buffer.size());
            status = inflate(&stream, Z_BLOCK);
        } while (status == Z_OK && !(stream.data_type & 128) && stream.total_out < kOutputCap);
        if (status != Z_OK || !(stream.data_type & 128) || stream.total_out >= kOutputCap) break;
        headerBit = uint64_t{stream.total_in} * 8 - static_cast<unsigned>(stream.data_type & 63);
    }
    inflateEnd(&stream);
    return found;
}

bool StartsWith(const std::vector<uint8_t>& longer, const std::vector<uint8_t>& shorter) {
    return longer.size() >= shorter.size() && std::equal(shorter.begin(), shorter.end(), longer.begin());
}

// Every byte decoded before a data error is delivered, whatever the output
// room of each call, so the bytes must match there too.
void ExpectSame(const char* what, const Decoded& a, const Decoded& b) {
    if (a.ending != b.ending) Fail(what, a, b);
    if (a.bytes != b.bytes || (a.ending == Ending::StreamEnd && a.consumed != b.consumed)) Fail(what, a, b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool deflate64 = data[0] & 1;
    const InflateVariant variant = deflate64 ? InflateVariant::Deflate64 : InflateVariant::Deflate;
    ++data;
    --size;

    const Decoded whole = Decode(variant, data, size, size + 1, 65536);
    const Decoded byteWise = Decode(variant, data, size, 1, 0);
    ExpectSame("whole against byte-at-a-time", whole, byteWise);
    if (!deflate64) {
        const Decoded reference = DecodeWithZlib(data, size);
        // Where this decoder refuses a block header that zlib reads, it must
        // have delivered exactly what zlib had delivered before that header.
        const std::optional<size_t> refusedAt = ZlibOutputBeforeRefusedBlock(data, size);
        const bool refusedByDesign = refusedAt && whole.ending == Ending::DataError &&
                                     whole.bytes.size() == *refusedAt && StartsWith(reference.bytes, whole.bytes);
        // A block that cannot end is read here as far as its input goes.
        const bool endlessBlock = reference.missingEndOfBlock && whole.ending != Ending::StreamEnd &&
                                  StartsWith(whole.bytes, reference.bytes);
        if (!reference.reachedBeforeStart && !refusedByDesign && !endlessBlock)
            ExpectSame("against zlib", whole, reference);
    }
    return 0;
}
