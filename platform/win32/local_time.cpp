#include "platform/local_time.h"

#include <windows.h>

#include <cstdint>

namespace platform {
namespace {

int64_t Ticks(const SYSTEMTIME& time) {
    FILETIME file{};
    ::SystemTimeToFileTime(&time, &file);
    return static_cast<int64_t>((static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
}

}  // namespace

// One moment read once, in UTC and in the zone's rules for it: the offset
// is their difference.
ZonedLocalTime CurrentZonedLocalTime() {
    SYSTEMTIME utc;
    ::GetSystemTime(&utc);
    SYSTEMTIME local = utc;
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    constexpr int64_t kTicksPerMinute = 60LL * 10000000LL;
    return {{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond},
            static_cast<int>((Ticks(local) - Ticks(utc)) / kTicksPerMinute)};
}

}  // namespace platform
