#pragma once

#include <array>
#include <cstdint>
#include <functional>

// The compressed bytes of a Shrink, Reduce or Implode entry, read in blocks of
// up to 32 KiB and handed out least significant bit first.
class LegacyBitReader {
public:
    // Fills buffer with up to capacity bytes; 0 at the end of the entry's data.
    using Source = std::function<int32_t(uint8_t* buffer, int32_t capacity)>;

    explicit LegacyBitReader(Source source) : source_(std::move(source)) {}

    // The next n bits (n <= 16), first bit lowest; -1 when fewer than n are
    // left, after which every read gives -1.
    int32_t ReadBits(unsigned n) {
        if (count_ < n && !Fill(n)) {
            hold_ = 0;
            count_ = 0;
            return -1;
        }
        return static_cast<int32_t>(Take(n));
    }

    // True once every bit has been used and the source has nothing more.
    bool AtEnd() { return count_ == 0 && !Fill(1); }

    // For table decoding: makes n bits (n <= 56) available, false when the
    // data ends first; Peek and Drop then work on them.
    bool Ensure(unsigned n) { return count_ >= n || Fill(n); }
    uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(hold_ & ((uint64_t{1} << n) - 1)); }
    void Drop(unsigned n) {
        hold_ >>= n;
        count_ -= n;
    }

    // Nothing more is read: the entry is cancelled.
    void Stop() {
        hold_ = 0;
        count_ = 0;
        position_ = fill_ = 0;
        stopped_ = true;
    }

private:
    uint32_t Take(unsigned n) {
        const uint32_t value = Peek(n);
        Drop(n);
        return value;
    }
    // Tops the hold up to at least n bits where the data allows; false when it could not.
    bool Fill(unsigned n);

    Source source_;
    uint64_t hold_ = 0;
    unsigned count_ = 0;
    std::array<uint8_t, 32768> buffer_;  // filled before use: left uninitialised
    int32_t position_ = 0;
    int32_t fill_ = 0;
    bool stopped_ = false;
};
