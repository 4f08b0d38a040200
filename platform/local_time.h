#pragma once

namespace platform {

// A broken-down date and time in the local time zone.
struct LocalDateTime {
    int year = 0;    // e.g. 2026
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
};

// The local time with its zone: how far it is ahead of UTC, in minutes
// (540 in Korea, -210 in Newfoundland in winter).
struct ZonedLocalTime {
    LocalDateTime time;
    int utcOffsetMinutes = 0;
};

ZonedLocalTime CurrentZonedLocalTime();
LocalDateTime CurrentLocalTime();

}  // namespace platform
