#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/windows_skip.h"

namespace {

int64_t SecondsSinceEpoch(const platform::LocalDateTime& t) {
    using namespace std::chrono;
    const sys_days day = year{t.year} / month{static_cast<unsigned>(t.month)} / static_cast<unsigned>(t.day);
    return duration_cast<seconds>(day.time_since_epoch()).count() + t.hour * 3600 + t.minute * 60 + t.second;
}

// The local time less its zone's offset is the time in UTC.
void ExpectOffsetMatchesTheClock(int expectedOffset) {
    const int64_t before = std::time(nullptr);
    const platform::ZonedLocalTime now = platform::CurrentZonedLocalTime();
    const int64_t after = std::time(nullptr);
    EXPECT_EQ(now.utcOffsetMinutes, expectedOffset);
    const int64_t utc = SecondsSinceEpoch(now.time) - now.utcOffsetMinutes * 60;
    EXPECT_GE(utc, before - 1);
    EXPECT_LE(utc, after);
}

#ifndef _WIN32
// Sets TZ for the test and puts the old value back, whatever happens.
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};
#endif

TEST(LocalTime, GivesTheZoneOffsetWithTheTime) {
    SKIP_ON_WINDOWS("the zone comes from the system's settings, which a test cannot change for itself");
#ifndef _WIN32
    const struct {
        const char* tz;
        int offset;
    } cases[] = {{"UTC0", 0}, {"KST-9", 540}, {"<+0545>-5:45", 345}, {"<-0330>3:30", -210}, {"<-10>10", -600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz);
        ScopedZone zone(c.tz);
        ExpectOffsetMatchesTheClock(c.offset);
    }
#endif
}

TEST(LocalTime, TheSystemZoneAgreesWithTheClock) {
    const platform::ZonedLocalTime now = platform::CurrentZonedLocalTime();
    EXPECT_EQ(now.utcOffsetMinutes % 15, 0);
    ExpectOffsetMatchesTheClock(now.utcOffsetMinutes);
}

}  // namespace
