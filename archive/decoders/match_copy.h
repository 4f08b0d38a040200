#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace inflate_impl {

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

}  // namespace inflate_impl
