#include "archive/codec/inflate_window.h"

#include <algorithm>
#include <cstring>

namespace inflate_impl {
namespace {

void Deliver(TInflateRec& rec, const uint8_t* from, size_t available) {
    size_t n = std::min(available, static_cast<size_t>(std::max<int32_t>(rec.AvailOut, 0)));
    if (n == 0) return;
    std::memcpy(rec.NextOut, from, n);
    rec.NextOut += n;
    rec.AvailOut -= static_cast<int32_t>(n);
    rec.TotalOut += n;
}

}  // namespace

void Window::Flush(TInflateRec& rec) {
    // At most two runs: up to `write`, or up to the end and then from the start.
    uint8_t* before = rec.NextOut;
    Deliver(rec, read, static_cast<size_t>((read <= write ? write : end) - read));
    read += rec.NextOut - before;
    if (read == end) {
        read = start;
        if (write == end) write = start;
        before = rec.NextOut;
        Deliver(rec, read, static_cast<size_t>(write - read));
        read += rec.NextOut - before;
    }
}

}  // namespace inflate_impl
