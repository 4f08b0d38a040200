#include "app/core/kbytes_format.h"

std::string FormatKBytes(int64_t bytes, const std::string& separator) {
    // Halves round away from zero, so a negative count mirrors a positive one.
    const bool negative = bytes < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
    const std::string digits = std::to_string((magnitude + 512) / 1024);

    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += separator;
        grouped += digits[i];
    }
    return negative && grouped != "0" ? "-" + grouped : grouped;
}
