#pragma once

#include <cstdint>
#include <string>

// A byte count as whole kilobytes: bytes / 1024 rounded to the nearest whole
// number with halves rounding up, digits grouped by three with `separator`
// ("#,##0"). 1,536 bytes give "2", 500 give "0", 1 MiB gives "1,024".
std::string FormatKBytes(int64_t bytes, const std::string& separator);
