#include "archive/frame/crc.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

namespace {

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
        table[i] = static_cast<uint16_t>(c);
    }
    return table;
}
constexpr auto kCrc16Table = MakeCrc16Table();

}  // namespace

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

uint32_t UpdateCrc16(uint32_t crc, const void* buffer, size_t count) {
    auto bytes = static_cast<const uint8_t*>(buffer);
    uint32_t value = crc & 0xFFFF;
    for (size_t i = 0; i < count; ++i) value = kCrc16Table[(value ^ bytes[i]) & 0xFF] ^ (value >> 8);
    return value;
}
