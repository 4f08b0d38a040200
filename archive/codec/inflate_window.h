#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/codec/inflate_record.h"

namespace inflate_impl {

// The circular window the decoder writes into. Bytes between `read` and
// `write` (wrapping at `end`) are decoded but not yet delivered; the rest is
// history that matches may copy from. A byte's position is its output offset
// modulo the window size, so `write` only wraps when it reaches `end`.
struct Window {
    uint8_t* start = nullptr;
    uint8_t* end = nullptr;
    uint8_t* read = nullptr;
    uint8_t* write = nullptr;

    size_t Size() const { return static_cast<size_t>(end - start); }

    // Contiguous free space at `write`; one byte stays free before `read` so
    // that a full window is never mistaken for an empty one.
    size_t Room() const { return static_cast<size_t>(write < read ? read - write - 1 : end - write); }

    // Moves `write` to the start once the end is reached and the start has
    // been delivered.
    void WrapWrite() {
        if (write == end && read != start) write = start;
    }

    bool Drained() const { return read == write; }

    // Delivers pending bytes to the record's output, as far as it has room.
    void Flush(TInflateRec& rec);

    // Makes room for at least one byte, flushing if needed; false when the
    // output is full and the window is too.
    bool EnsureRoom(TInflateRec& rec) {
        if (Room() == 0) {
            WrapWrite();
            if (Room() == 0) {
                Flush(rec);
                WrapWrite();
            }
        }
        return Room() != 0;
    }

    void Restart() { read = write = start; }
};

}  // namespace inflate_impl
