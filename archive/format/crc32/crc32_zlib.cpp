#include <zlib.h>

#include <algorithm>
#include <limits>

#include "archive/format/crc.h"

uint32_t UpdateCrc32(uint32_t crc, const void* buffer, size_t count) {
    // zlib inverts on entry and exit; undo both to keep the running register.
    auto bytes = static_cast<const Bytef*>(buffer);
    uLong value = ~crc & 0xFFFFFFFFu;
    while (count > 0) {
        const auto piece = static_cast<uInt>(std::min<size_t>(count, std::numeric_limits<uInt>::max()));
        value = crc32(value, bytes, piece);
        bytes += piece;
        count -= piece;
    }
    return ~static_cast<uint32_t>(value);
}
