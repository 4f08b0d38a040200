#include "release/utc_time.h"

#include <chrono>
#include <cstdio>

namespace release {

namespace {

// Reads count digits at text[at]; false when any is not a digit.
bool Digits(std::string_view text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::optional<UtcTime> UtcTime::Parse(std::string_view text) {
    // 0123456789012345678901
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    int year, month, day, hour, minute, second;
    if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
        !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second)) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
    return UtcTime(days * 86400 + hour * 3600 + minute * 60 + second);
}

std::string UtcTime::Text() const {
    const int64_t days = (seconds_ >= 0 ? seconds_ : seconds_ - 86399) / 86400;
    const int64_t inDay = seconds_ - days * 86400;
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60));
    return text;
}

}  // namespace release
