#pragma once

#include <cstdint>
#include <optional>

#include "archive/reader/stream32.h"

// The compressed bytes of one entry as a stream over the archive: reads end at
// the entry's compressed size, so a decoder never takes the bytes of what
// follows (the next entry, the directory) as its own.
class TEntryDataStream : public TStream32 {
public:
    // `left` is the entry's compressed size, none when the headers do not
    // know it (data streamed before its size was known).
    TEntryDataStream(TStream32& source, std::optional<uint64_t> left) : source_(&source), left_(left) {}

    // The data goes on in another volume.
    void SetSource(TStream32& source) { source_ = &source; }
    bool Exhausted() const { return left_ && *left_ == 0; }

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void*, int32_t) override { return -1; }
    using TStream32::Seek;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return source_->Seek(offset, origin); }
    int64_t GetSize() override { return source_->Size(); }

private:
    TStream32* source_;
    std::optional<uint64_t> left_;
};
