#pragma once

#include <cstddef>
#include <cstdint>

// Running CRC registers, updated without the final inversion: the caller
// starts a CRC-32 at 0xFFFFFFFF and inverts at the end.
uint32_t UpdateCrc32(uint32_t crc, const void* buffer, size_t count);
// The ARC/LHA CRC-16 (reflected polynomial 0xA001) in the low 16 bits.
uint32_t UpdateCrc16(uint32_t crc, const void* buffer, size_t count);
