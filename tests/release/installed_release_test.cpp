#include "release/installed_release.h"

#include <gtest/gtest.h>

#include <string>

using release::InstalledRelease;
using release::ReleaseVersion;

namespace {

std::string Shown(const std::optional<ReleaseVersion>& version) { return version ? version->Text() : "-"; }

// The record is read as untrusted: whatever is not a version counts as
// absent, and the highest never lies below the installed version.
TEST(InstalledRelease, ReadsOnlyWhatIsAVersion) {
    struct Case {
        const char* text;
        const char* version;
        const char* highest;
    };
    const Case cases[] = {
        {"[Release]\nVersion=1.2.0\nHighestVersion=2.0\n", "1.2.0", "2.0"},
        {"[Release]\r\nVersion = 1.2 \r\nHighestVersion=1.1\r\n", "1.2", "1.2"},
        {"[Release]\nVersion=1.2.x\nHighestVersion=3\n", "-", "3"},
        {"[Release]\nVersion=\nHighestVersion=-1\n", "-", "-"},
        {"Version=99999999999\n", "-", "-"},
        {"\x01\xff garbage without a line end", "-", "-"},
        {"", "-", "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const InstalledRelease record = InstalledRelease::Parse(c.text);
        EXPECT_EQ(Shown(record.version), c.version);
        EXPECT_EQ(Shown(record.highest), c.highest);
    }
    EXPECT_FALSE(InstalledRelease::Parse(std::string(InstalledRelease::kMaxBytes + 1, '\n') + "Version=1\n").version);
}

TEST(InstalledRelease, AnInstallMovesTheHighestOnlyUp) {
    const InstalledRelease record = InstalledRelease::Parse("Version=2.0\nHighestVersion=3.0\n");
    EXPECT_EQ(record.After(ReleaseVersion::Parse("2.5")).Text(), "[Release]\nVersion=2.5\nHighestVersion=3.0\n");
    EXPECT_EQ(record.After(ReleaseVersion::Parse("3.1")).Text(), "[Release]\nVersion=3.1\nHighestVersion=3.1\n");
    // An archive installed without a manifest: its version is unknown.
    EXPECT_EQ(record.After(std::nullopt).Text(), "[Release]\nHighestVersion=3.0\n");
    EXPECT_EQ(InstalledRelease::Parse(record.Text()).Text(), record.Text());
}

}  // namespace
