#pragma once

#include <cstdint>

#include "archive/codec/inflate_record.h"

namespace inflate_impl {

// Input bits not yet used, least significant first. Bits above `count` are
// always zero.
struct BitBuffer {
    uint64_t hold = 0;
    unsigned count = 0;
};

// Takes whole bytes from the record's input into a bit buffer, one at a time
// and only when a step needs them, so that a step that cannot complete leaves
// everything in place for the next call.
class BitReader {
public:
    BitReader(BitBuffer& buffer, TInflateRec& rec) : buffer_(buffer), rec_(rec) {}

    unsigned Count() const { return buffer_.count; }
    uint64_t Hold() const { return buffer_.hold; }

    // Adds one input byte; false when the input is empty.
    bool PullByte() {
        if (rec_.AvailIn <= 0) return false;
        buffer_.hold |= uint64_t{*rec_.NextIn++} << buffer_.count;
        buffer_.count += 8;
        --rec_.AvailIn;
        ++rec_.TotalIn;
        return true;
    }

    // Makes at least n bits (n <= 32) available; false when the input ran out first.
    bool Need(unsigned n) {
        while (buffer_.count < n) {
            if (!PullByte()) return false;
        }
        return true;
    }

    uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(buffer_.hold & ((uint64_t{1} << n) - 1)); }

    void Drop(unsigned n) {
        buffer_.hold >>= n;
        buffer_.count -= n;
    }

    uint32_t Take(unsigned n) {
        uint32_t value = Peek(n);
        Drop(n);
        return value;
    }

    void DropToByteBoundary() { Drop(buffer_.count & 7); }

    // Gives the whole bytes still in the buffer back to the input.
    void ReturnWholeBytes() {
        unsigned bytes = buffer_.count >> 3;
        rec_.NextIn -= bytes;
        rec_.AvailIn += static_cast<int32_t>(bytes);
        rec_.TotalIn -= bytes;
        buffer_.count &= 7;
        buffer_.hold &= (uint64_t{1} << buffer_.count) - 1;
    }

private:
    BitBuffer& buffer_;
    TInflateRec& rec_;
};

}  // namespace inflate_impl
