#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace inflate_impl {

// Bytes the window allocation carries after its end, so that a match copy in
// whole words may run past the window's last byte.
constexpr size_t kWindowSlack = 32;

// Copies n bytes from src to dst, with src before dst, as if byte by byte:
// where the two overlap, the bytes written repeat the last (dst - src) bytes.
// Writes nothing past dst + n: the bytes after it are history still in use.
inline void CopyForward(uint8_t* dst, const uint8_t* src, size_t n) {
    const size_t distance = static_cast<size_t>(dst - src);
    if (distance >= 8) {
        if (n >= 8) {
            uint64_t word;
            while (n > 8) {
                std::memcpy(&word, src, 8);
                std::memcpy(dst, &word, 8);
                src += 8;
                dst += 8;
                n -= 8;
            }
            // The last word may overlap bytes just written; they are final.
            std::memcpy(&word, src + n - 8, 8);
            std::memcpy(dst + n - 8, &word, 8);
        } else if (n >= 4) {
            uint32_t head, tail;
            std::memcpy(&head, src, 4);
            std::memcpy(&tail, src + n - 4, 4);
            std::memcpy(dst, &head, 4);
            std::memcpy(dst + n - 4, &tail, 4);
        } else {
            for (size_t i = 0; i < n; ++i) dst[i] = src[i];
        }
    } else if (distance == 1) {
        std::memset(dst, *src, n);
    } else {
        for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    }
}

// As CopyForward, in whole 8- or 16-byte words that may write up to
// kWindowSlack - 1 bytes past dst + n; those bytes are saved first and put
// back, so the result is the same. Needs kWindowSlack writable bytes after
// dst + n, and as many readable after src + n. A source after dst is also
// copied right: each word is read before any write reaches it. The first
// 32 bytes go without a loop test: most matches are no longer.
[[gnu::always_inline]] inline void CopyForwardInWords(uint8_t* dst, const uint8_t* src, size_t n) {
    const size_t distance = static_cast<size_t>(dst - src);  // huge when src > dst
    if (distance < 8) {
        CopyForward(dst, src, n);
        return;
    }
    uint8_t* const stop = dst + n;
    uint8_t saved[kWindowSlack];
    std::memcpy(saved, stop, kWindowSlack);
    // A word read before dst lies wholly before the word being written, so
    // the overlap rule holds as long as the step is not above the distance.
    auto copy16 = [&] {
        uint8_t word[16];
        std::memcpy(word, src, 16);
        std::memcpy(dst, word, 16);
        src += 16;
        dst += 16;
    };
    auto copy8 = [&] {
        uint64_t word;
        std::memcpy(&word, src, 8);
        std::memcpy(dst, &word, 8);
        src += 8;
        dst += 8;
    };
    if (distance >= 16) {
        copy16();
        copy16();
        while (dst < stop) copy16();
    } else {
        copy8();
        copy8();
        copy8();
        copy8();
        while (dst < stop) copy8();
    }
    std::memcpy(stop, saved, kWindowSlack);
}

}  // namespace inflate_impl
