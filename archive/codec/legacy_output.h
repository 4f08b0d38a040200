#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>

// The output of a Shrink, Reduce or Implode entry: a 32 KiB block handed to
// the sink whenever it is full, preceded by the last 8 KiB already handed
// on, which serve as the sliding window of Reduce and Implode. Nothing beyond
// the declared size is ever put, whatever the data says.
class LegacyOutput {
public:
    static constexpr int32_t kBlockSize = 32768;
    static constexpr int32_t kMaxWindow = 8192;

    // Takes a full or final block; false stops the entry (cancelled).
    using Sink = std::function<bool(const uint8_t* data, int32_t count)>;

    LegacyOutput(uint64_t limit, Sink sink);

    // The declared size is reached, or the sink asked to stop.
    bool Full() const { return full_ || BytesPut() == limit_; }
    uint64_t BytesPut() const { return handedOn_ + static_cast<uint64_t>(fill_ - kMaxWindow); }

    void Put(uint8_t value) {
        if (fill_ == end_ && !MakeRoom()) return;
        bytes_[static_cast<size_t>(fill_++)] = value;
    }

    void Put(const uint8_t* bytes, uint32_t count) {
        if (static_cast<uint32_t>(end_ - fill_) >= count) {
            std::memcpy(bytes_.data() + fill_, bytes, count);
            fill_ += static_cast<int32_t>(count);
            return;
        }
        for (uint32_t i = 0; i < count; ++i) Put(bytes[i]);
    }

    // Copies length bytes starting distance (1 to 8192) bytes back; bytes
    // before the first one put read as zeros.
    void CopyMatch(uint32_t distance, uint32_t length) {
        if (length <= kShortMatch && static_cast<uint32_t>(end_ - fill_) >= length) {
            // Most matches are short. Eight bytes at a time may run past the
            // match into the slack; bytes past the fill are written again later.
            uint8_t* to = bytes_.data() + fill_;
            const uint8_t* from = to - distance;
            if (distance >= 8) {
                for (uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
            } else {
                for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
            }
            fill_ += static_cast<int32_t>(length);
            return;
        }
        CopyLongMatch(distance, length);
    }

    // Hands the bytes not yet handed on to the sink.
    void Flush();

private:
    static constexpr uint32_t kShortMatch = 32;

    void CopyLongMatch(uint32_t distance, uint32_t length);
    // Makes room for one more byte; false when the output is full.
    bool MakeRoom();
    void SetEnd();

    Sink sink_;
    uint64_t limit_;
    uint64_t handedOn_ = 0;
    static constexpr int32_t kSlack = 8;
    std::array<uint8_t, kMaxWindow + kBlockSize + kSlack> bytes_;  // the window part starts zeroed
    int32_t fill_ = kMaxWindow;
    int32_t end_ = kMaxWindow;  // where the block or the declared size ends
    bool full_ = false;
};
