#pragma once

#include <cstdint>
#include <memory>

#include "archive/codec/inflate.h"
#include "archive/reader/stream32.h"

// Base of the compression streams: the stream the compressed bytes come
// from, a fixed input buffer and the decoder record working on it.
class TCustomStream : public TStream32 {
public:
    static constexpr int32_t kInputBufferSize = 65536;

    // Records Source's current position in SourcePos. Source is not owned
    // and must outlive this stream.
    explicit TCustomStream(TStream32& source);
    ~TCustomStream() override;

    uint64_t TotalIn() const { return Rec.TotalIn; }
    uint64_t TotalOut() const { return Rec.TotalOut; }
    int32_t AvailOut() const { return Rec.AvailOut; }

    // To go on with another stream (the next volume of an archive), store it
    // here with its position; undecoded input stays in the buffer.
    TStream32* Source;
    int64_t SourcePos;
    std::unique_ptr<uint8_t[]> InputBuffer;
    TInflateRec Rec;
    // Refilled input is deciphered in place with the entry's cipher keys.
    bool Encrypted = false;
};
