// The update log's line: what support staff read, and what a terminal shows
// when they read it there.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "install/update_log.h"

namespace {

const platform::ZonedLocalTime kSeoul{{2026, 12, 11, 14, 3, 22}, 540};

// The line after its time and zone.
std::string Fields(const TUpdateRunRecord& record) { return TUpdateLog::Line(record, kSeoul).substr(25); }

TUpdateRunRecord Record(const std::string& result, const std::string& step = {}, const std::string& entry = {}) {
    TUpdateRunRecord record;
    record.url = "u";
    record.result = result;
    record.step = step;
    record.entry = entry;
    return record;
}

TEST(UpdateLogLineTest, KeepsTheOlderFieldsFirstAndFetchLast) {
    TUpdateRunRecord record = Record("failed", "download");
    record.url = "localhost:280/HTTP/Quendown/Quendal.zip";
    record.bytesReceived = 40960;
    record.errorCode = 28;
    record.fetch = "whole archive (no manifest)";
    record.installedRelease = "1.1";
    record.offeredRelease = "1.2-beta 3";
    record.refusedRelease = "1.2-beta 3";
    record.downloadFailure = "timed out";

    EXPECT_EQ(TUpdateLog::Line(record, kSeoul),
              "2026-12-11 14:03:22 +0900 url=localhost:280/HTTP/Quendown/Quendal.zip bytes=40960 result=failed "
              "step=download code=28 installed=1.1 offered=1.2-beta 3 refused=1.2-beta 3 download=timed out "
              "fetch=whole archive (no manifest)\n");
    // Empty fields are left out.
    EXPECT_EQ(Fields(Record("installed")), " url=u bytes=0 result=installed\n");
}

TEST(UpdateLogLineTest, GivesTheTimeWithItsZone) {
    const struct {
        int offset;
        const char* zone;
    } cases[] = {{540, "+0900"}, {0, "+0000"}, {-210, "-0330"}, {345, "+0545"}, {-600, "-1000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        const std::string line = TUpdateLog::Line(Record("installed"), {{2027, 1, 2, 3, 4, 5}, c.offset});
        EXPECT_EQ(line.substr(0, 26), std::string("2027-01-02 03:04:05 ") + c.zone + " ");
    }
    // And the time now has the system's zone.
    const platform::ZonedLocalTime now = platform::CurrentZonedLocalTime();
    const std::string line = TUpdateLog::Line(Record("installed"));
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d%02d", now.utcOffsetMinutes < 0 ? '-' : '+',
                  std::abs(now.utcOffsetMinutes) / 60, std::abs(now.utcOffsetMinutes) % 60);
    EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4} url=u )"))) << line;
    EXPECT_EQ(line.substr(20, 5), zone);
}

// Entry names come from archives and versions from servers: whatever bytes
// they hold, a record stays one line and shows no control to a terminal.
TEST(UpdateLogLineTest, EscapesControlCharactersAndWhatIsNotUtf8) {
    const struct {
        const char* name;
        std::string given;
        std::string shown;
    } cases[] = {
        {"escape sequence", "a\x1b]0;owned\x07.txt", "a\\x1b]0;owned\\x07.txt"},
        {"line breaks", "one\r\ntwo", "one\\x0d\\x0atwo"},
        {"nul, tab and delete", std::string("a\0b\tc\x7f", 6), "a\\x00b\\x09c\\x7f"},
        {"a backslash, so that an escape cannot be forged", "x\\x1b\\", "x\\\\x1b\\\\"},
        {"C1 control in UTF-8 (CSI)", "a\xc2\x9b" "31m", "a\\xc2\\x9b31m"},
        {"a lone byte that is no UTF-8", "a\x9b" "31m\xff", "a\\x9b31m\\xff"},
        {"cut-off sequence", "a\xe2\x82", "a\\xe2\\x82"},
        {"overlong slash", "a\xc0\xaf", "a\\xc0\\xaf"},
        {"encoded surrogate", "a\xed\xa0\x80", "a\\xed\\xa0\\x80"},
        {"text kept as it is", "데이터/표 1.bin ©", "데이터/표 1.bin ©"},
        {"a four-byte character kept", "\xf0\x9f\x93\x81", "\xf0\x9f\x93\x81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Fields(Record("failed", "extract", c.given)), " url=u bytes=0 result=failed step=extract entry=" + c.shown + "\n");
    }

    // Every text field, the same way.
    const std::string bell = "\x07";
    const TUpdateRunRecord record{bell, 1, bell, bell, bell, 0, bell, bell, bell, bell, bell};
    EXPECT_EQ(Fields(record),
              " url=\\x07 bytes=1 result=\\x07 step=\\x07 entry=\\x07 installed=\\x07 offered=\\x07 refused=\\x07 "
              "download=\\x07 fetch=\\x07\n");
}

}  // namespace
