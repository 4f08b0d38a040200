#pragma once

#include <cstdint>

#include "archive/reader/custom_stream.h"

// Pull-style decompression: laid over a stream positioned at the first byte
// of a raw Deflate or Deflate64 stream, it hands out the decoded bytes
// through Read. Reads ahead of the compressed data and, when destroyed, puts
// Source back on the first byte the decoder did not consume.
class TDecompressStream : public TCustomStream {
public:
    // Negative window bits select raw Deflate, in the variant given. A failed
    // initialisation shows as -2 from the first Read.
    TDecompressStream(TStream32& source, int8_t windowBits, InflateVariant variant = InflateVariant::Deflate);
    ~TDecompressStream() override;

    // Count when Count bytes were stored; fewer (perhaps 0) when the
    // compressed stream ended first; a negative decoder code otherwise
    // (-2 stream, -3 data, -4 memory, -5 no progress: the source ran out).
    // Each refill asks Source for Count bytes, at most the buffer size.
    int32_t Read(void* buffer, int32_t count) override;
    // Stores nothing: -1.
    int32_t Write(const void* buffer, int32_t count) override;
    // Offset 0 from the beginning starts over from Source's position 0;
    // forward moves decode and discard; anything else changes nothing.
    // Returns TotalOut. ERangeError for offsets outside 32 bits.
    using TStream32::Seek;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

    virtual int ResetDecoder(TInflateRec& rec);
    virtual int EndDecoder(TInflateRec& rec);
    virtual int DecodeStep(TInflateRec& rec);
    virtual int InitDecoder(TInflateRec& rec, int windowBits);

private:
    void Skip(int64_t distance);

    InflateVariant variant_;
};
