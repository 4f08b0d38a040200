#include <gtest/gtest.h>

#include <string>

#include "archive/extract/output_path.h"
#include "frame_test_support.h"

using frame_test::SlashPath;

TEST(EntryOutputPath, StoredFoldersDrivesAndRoots) {
    struct Case {
        bool useStoredDirs;
        const char* name;
        const char* expected;
    } cases[] = {
        {true, "docs/readme.txt", "/app/docs/readme.txt"},
        {true, "/top.txt", "/app/top.txt"},
        {true, "D:/x/y.txt", "/app/x/y.txt"},
        {true, "D:y.txt", "/app/y.txt"},
        {true, "a/b/c.txt", "/app/a/b/c.txt"},
        {true, "sub/", "/app/sub/"},
        {true, "plain.txt", "/app/plain.txt"},
        {false, "docs/readme.txt", "/app/readme.txt"},
        {false, "D:/x/y.txt", "/app/y.txt"},
        {false, "/top.txt", "/app/top.txt"},
        {true, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SlashPath(EntryOutputPath("/app/", c.name, c.useStoredDirs)), c.expected)
            << c.name << " stored dirs " << c.useStoredDirs;
    }
    // A relative target still yields a rooted path.
    EXPECT_EQ(SlashPath(EntryOutputPath("rel", "y.txt", true)), "/rel/y.txt");
}

TEST(OutputPathStaysInside, OnlyBelowTheTargetAndWithoutClimbing) {
    struct Case {
        const char* name;
        bool inside;
    } cases[] = {
        {"docs/readme.txt", true},
        {"sub/", true},
        {"a..b/c..txt", true},  // dots inside a name climb nowhere
        {"../evil.txt", false},
        {"docs/../../evil.txt", false},
        {"docs/..", false},
        {"/../evil.txt", false},  // the root separators go, the climb stays
    };
    for (const Case& c : cases) {
        const std::string path = EntryOutputPath("/app/", c.name, true);
        EXPECT_EQ(OutputPathStaysInside("/app/", path), c.inside) << c.name;
    }
    EXPECT_FALSE(OutputPathStaysInside("/app/", EntryOutputPath("/other/", "x.txt", true)));
    EXPECT_FALSE(OutputPathStaysInside("/app/", "/application/x.txt"));
}
