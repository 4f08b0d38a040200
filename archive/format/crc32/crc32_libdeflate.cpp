#include <libdeflate.h>

#include "archive/format/crc.h"

uint32_t UpdateCrc32(uint32_t crc, const void* buffer, size_t count) {
    // libdeflate inverts on entry and exit; undo both to keep the running register.
    return ~libdeflate_crc32(~crc, buffer, count);
}
