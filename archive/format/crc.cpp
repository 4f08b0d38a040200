#include "archive/format/crc.h"

#include <array>

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

uint32_t UpdateCrc16(uint32_t crc, const void* buffer, size_t count) {
    auto bytes = static_cast<const uint8_t*>(buffer);
    uint32_t value = crc & 0xFFFF;
    for (size_t i = 0; i < count; ++i) value = kCrc16Table[(value ^ bytes[i]) & 0xFF] ^ (value >> 8);
    return value;
}
