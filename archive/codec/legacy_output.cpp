#include "archive/codec/legacy_output.h"

#include <algorithm>
#include <cstring>

LegacyOutput::LegacyOutput(uint64_t limit, Sink sink) : sink_(std::move(sink)), limit_(limit) {
    // Matches reaching before the first byte read zeros.
    std::memset(bytes_.data(), 0, kMaxWindow);
    SetEnd();
}

void LegacyOutput::SetEnd() {
    // Called with room left in the block, so no room means the output is full.
    const uint64_t room = full_ ? 0 : std::min<uint64_t>(kBlockSize - (fill_ - kMaxWindow), limit_ - BytesPut());
    end_ = fill_ + static_cast<int32_t>(room);
    full_ = room == 0;
}

bool LegacyOutput::MakeRoom() {
    if (full_) return false;
    if (fill_ == kMaxWindow + kBlockSize) Flush();
    SetEnd();
    return !full_;
}

void LegacyOutput::Flush() {
    const int32_t count = fill_ - kMaxWindow;
    if (count == 0) return;
    // The window keeps the newest bytes; the block starts empty again.
    handedOn_ += static_cast<uint64_t>(count);
    const bool goOn = sink_(bytes_.data() + kMaxWindow, count);
    std::memmove(bytes_.data(), bytes_.data() + count, kMaxWindow);
    fill_ = kMaxWindow;
    if (!goOn) full_ = true;
    SetEnd();
}

void LegacyOutput::CopyLongMatch(uint32_t distance, uint32_t length) {
    while (length > 0) {
        if (fill_ == end_ && !MakeRoom()) return;
        const auto run = std::min<uint32_t>(length, static_cast<uint32_t>(end_ - fill_));
        uint8_t* to = bytes_.data() + fill_;
        const uint8_t* from = to - distance;
        if (distance >= run) {
            std::memcpy(to, from, run);
        } else {
            // Overlapping: each byte may be one this copy has just put.
            for (uint32_t i = 0; i < run; ++i) to[i] = from[i];
        }
        fill_ += static_cast<int32_t>(run);
        length -= run;
    }
}
