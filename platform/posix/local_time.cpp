#include "platform/local_time.h"

#include <algorithm>
#include <ctime>

namespace platform {

ZonedLocalTime CurrentZonedLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    return {{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59)},
            static_cast<int>(tm.tm_gmtoff / 60)};
}

}  // namespace platform
