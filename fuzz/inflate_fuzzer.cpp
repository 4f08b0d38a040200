// The Inflate / Deflate64 decoder on any stream, decoded twice: all input and
// a large output buffer at once, then one input byte per call with one output
// byte per call for the first 4 KiB and odd-sized runs after that (so every
// resumption point is tried without a call per byte of a long output). Both must agree on every byte and on how the stream ended. Deflate
// streams are also decoded by zlib, whose verdict and bytes must match, except
// where zlib refuses a distance reaching back before the stream's first byte:
// this decoder copies zero bytes from its fresh window there instead.
//
// Input: the first byte's low bit chooses Deflate64; the rest is the stream.

#include "archive/decoders/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
Decoded Decode(const uint8_t* data, size_t size, size_t inStep, size_t outStep) {
    Decoded result;
    TInflateRec rec;
    if (InflateInit(&rec, -15, kInflateRecordCheck) != kInflateOk) std::abort();
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
        break;
    }
    result.consumed = stream.total_in;
    inflateEnd(&stream);
    return result;
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
    SetInflateDeflate64(deflate64);
    SetInflateFixedDistanceCount(deflate64 ? 32 : 30);
    ++data;
    --size;

    const Decoded whole = Decode(data, size, size + 1, 65536);
    const Decoded byteWise = Decode(data, size, 1, 0);
    ExpectSame("whole against byte-at-a-time", whole, byteWise);
    if (!deflate64) {
        const Decoded reference = DecodeWithZlib(data, size);
        // zlib reads a code-length code with no codes at all as symbol 0 of
        // one bit and only runs out of input later; this decoder refuses such
        // a code at once, as it does every incomplete code-length code.
        const bool refusedEarlier = whole.ending == Ending::DataError && reference.ending == Ending::OutOfInput &&
                                    StartsWith(reference.bytes, whole.bytes);
        if (!reference.reachedBeforeStart && !refusedEarlier) ExpectSame("against zlib", whole, reference);
    }
    return 0;
}
