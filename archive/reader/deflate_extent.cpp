#include "archive/reader/deflate_extent.h"

#include <algorithm>
#include <vector>

#include "archive/codec/inflate.h"
#include "archive/reader/byte_source.h"

namespace {

constexpr size_t kChunk = 65536;
constexpr int kRawDeflateWindowBits = -15;

}  // namespace

std::optional<DeflateExtent> MeasureDeflateStream(ByteSource& source, int64_t position, bool deflate64,
                                                  uint64_t limit) {
    TInflateRec rec;
    const InflateVariant variant = deflate64 ? InflateVariant::Deflate64 : InflateVariant::Deflate;
    if (InflateInit(&rec, kRawDeflateWindowBits, kInflateRecordCheck, variant) != kInflateOk) return std::nullopt;
    std::vector<uint8_t> input(kChunk), output(kChunk);
    std::optional<DeflateExtent> extent;
    int64_t readAt = position;
    for (;;) {
        if (rec.AvailIn == 0) {
            const uint64_t left = limit - static_cast<uint64_t>(readAt - position);
            const size_t got = source.ReadAt(readAt, input.data(), static_cast<size_t>(std::min<uint64_t>(input.size(), left)));
            if (got == 0) break;  // the data (or the room for it) ends inside the stream
            readAt += static_cast<int64_t>(got);
            rec.NextIn = input.data();
            rec.AvailIn = static_cast<int32_t>(got);
        }
        rec.NextOut = output.data();
        rec.AvailOut = static_cast<int32_t>(output.size());
        const int result = Inflate(&rec, kInflateNoFlush);
        if (result == kInflateStreamEnd) {
            extent = DeflateExtent{rec.TotalIn, rec.TotalOut};
            break;
        }
        // With input at hand and room for output, no progress means damaged data.
        if (result != kInflateOk) break;
    }
    InflateEnd(&rec);
    return extent;
}
