#include "release/entry_name.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

struct NameCase {
    std::string_view name;
    bool plain;
};

TEST(EntryName, PlainOnlyForRelativePathsOutsideTheUpdatersFolder) {
    using namespace std::string_view_literals;
    const NameCase cases[] = {
        {"Quendal.exe", true},
        {"bin/Quendal.dll", true},
        {"docs/", true},
        {"\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4/\xEB\xAC\xB8\xEC\x84\x9C.txt", true},  // UTF-8 Hangul
        {"a..b/.hidden", true},
        {"-", true},
        {"sub/.quendal-update/x", true},  // only the program folder's own is reserved
        {".quendal-updater/x", true},
        {"", false},
        {"/", false},
        {"/etc/passwd", false},
        {"a//b", false},
        {"docs//", false},
        {".", false},
        {"./a", false},
        {"a/./b", false},
        {"..", false},
        {"../a", false},
        {"a/..", false},
        {"a/../../b", false},
        {"dir\\file", false},
        {"C:evil", false},
        {"a.txt:stream", false},
        {"line\nbreak", false},
        {"tab\tname", false},
        {"del\x7f", false},
        {"nul\0byte"sv, false},
        {".quendal-update", false},
        {".quendal-update/", false},
        {".Quendal-Update/state.ini", false},
        {".QUENDAL-UPDATE/stage/x", false},
    };
    for (const NameCase& c : cases) EXPECT_EQ(release::IsPlainEntryName(c.name), c.plain) << c.name;
}

TEST(EntryName, QuotedKeepsTextAndEscapesWhatCouldBreakALogLine) {
    EXPECT_EQ(release::QuotedEntryName("bin/Quendal.dll"), "\"bin/Quendal.dll\"");
    EXPECT_EQ(release::QuotedEntryName("a\nb\"c\\d\x7f"), "\"a\\x0ab\\x22c\\x5cd\\x7f\"");
}

}  // namespace
