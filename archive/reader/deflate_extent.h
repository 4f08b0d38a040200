#pragma once

#include <cstdint>
#include <optional>

class ByteSource;

// Where a raw Deflate or Deflate64 stream ends: its compressed and its
// decoded length.
struct DeflateExtent {
    uint64_t packed = 0;
    uint64_t unpacked = 0;
};

// Decodes the stream starting at `position` only to learn where it ends, for
// entries whose sizes were not stored before their data. Nothing when the
// data is damaged, or ends (or reaches `limit` bytes) before the stream does.
std::optional<DeflateExtent> MeasureDeflateStream(ByteSource& source, int64_t position, bool deflate64,
                                                  uint64_t limit = UINT64_MAX);
