#include "archive/codec/legacy_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/codec/explode.h"
#include "archive/codec/legacy_error.h"
#include "archive/codec/unreduce.h"
#include "archive/codec/unshrink.h"

bool IsLegacyMethod(uint32_t method) { return method >= 1 && method <= 6; }

void DecodeLegacyEntry(uint32_t method, uint16_t flags, uint64_t unpackedSize, LegacyBitReader::Source source,
                       LegacyOutput::Sink sink, const std::function<void(const LegacyResult&)>& onError) {
    if (!IsLegacyMethod(method)) {
        onError({LegacyFault::UnsupportedMethod, false});
        return;
    }
    // Both hold 32 KiB or more: kept off the stack.
    auto in = std::make_unique<LegacyBitReader>(std::move(source));
    auto out = std::make_unique<LegacyOutput>(unpackedSize, [&](const uint8_t* data, int32_t count) {
        const bool goOn = sink(data, count);
        if (!goOn) in->Stop();
        return goOn;
    });
    try {
        if (method == 1)
            Unshrink(*in, *out);
        else if (method == 6)
            Explode(*in, *out, flags);
        else
            Unreduce(*in, *out, static_cast<int>(method) - 1);
    } catch (const LegacyDataError& error) {
        try {
            onError({error.fault, error.raised});
        } catch (...) {
            out->Flush();
            throw;
        }
    }
    out->Flush();
}

LegacyResult DecodeLegacyBuffer(uint32_t method, uint16_t flags, const uint8_t* data, size_t size,
                                uint64_t unpackedSize, std::vector<uint8_t>& output) {
    size_t position = 0;
    auto source = [&](uint8_t* buffer, int32_t capacity) {
        const size_t count = std::min(size - position, static_cast<size_t>(capacity));
        if (count > 0) std::memcpy(buffer, data + position, count);
        position += count;
        return static_cast<int32_t>(count);
    };
    auto sink = [&](const uint8_t* bytes, int32_t count) {
        output.insert(output.end(), bytes, bytes + count);
        return true;
    };
    LegacyResult result;
    DecodeLegacyEntry(method, flags, unpackedSize, source, sink, [&](const LegacyResult& error) { result = error; });
    return result;
}
