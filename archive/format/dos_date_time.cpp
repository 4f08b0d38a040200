#include "archive/format/dos_date_time.h"

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValid(const platform::LocalDateTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) &&
           t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

// Days from 1899-12-30 to the given date (proleptic Gregorian calendar).
int64_t DayNumber(int year, int month, int day) {
    // Days since 0000-03-01, shifted so that 1899-12-30 is day 0.
    const int y = month <= 2 ? year - 1 : year;
    const int m = month <= 2 ? month + 9 : month - 3;
    const int64_t days = 365LL * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + day - 1;
    constexpr int64_t kDay18991230 = 365LL * 1899 + 1899 / 4 - 1899 / 100 + 1899 / 400 + (153 * 9 + 2) / 5 + 30 - 1;
    return days - kDay18991230;
}

}  // namespace

platform::LocalDateTime DosDateTimeToLocal(uint32_t dos) {
    platform::LocalDateTime t;
    t.year = 1980 + static_cast<int>(dos >> 25);
    t.month = static_cast<int>((dos >> 21) & 0x0F);
    t.day = static_cast<int>((dos >> 16) & 0x1F);
    t.hour = static_cast<int>((dos >> 11) & 0x1F);
    t.minute = static_cast<int>((dos >> 5) & 0x3F);
    t.second = static_cast<int>((dos & 0x1F) * 2);
    return t;
}

TDateTime DosDateTimeToDateTime(uint32_t dosDateTime) {
    platform::LocalDateTime t = DosDateTimeToLocal(dosDateTime);
    if (dosDateTime == 0 || !IsValid(t)) t = DosDateTimeToLocal(kDefaultDosDateTime);
    const double seconds = t.hour * 3600.0 + t.minute * 60.0 + t.second;
    return static_cast<double>(DayNumber(t.year, t.month, t.day)) + seconds / 86400.0;
}

uint32_t LocalToDosDateTime(const platform::LocalDateTime& t) {
    if (t.year < 1980 || t.year > 2107 || !IsValid(t)) return kDefaultDosDateTime;
    const uint32_t date = static_cast<uint32_t>((t.year - 1980) << 9 | t.month << 5 | t.day);
    const uint32_t time = static_cast<uint32_t>(t.hour << 11 | t.minute << 5 | t.second / 2);
    return date << 16 | time;
}
