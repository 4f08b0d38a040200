#include "archive/format/file_spec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Entry names arrive with native separators ("/" here); masks are the
// lines of FileSpec.
struct SelectCase {
    const char* line;
    bool recurseDirs;
    const char* name;
    bool selected;
};

TEST(SelectEntry, PartCases) {
    const SelectCase cases[] = {
        // "*.*" selects every entry when recursing: README on the retry as
        // README., and the folder entry's empty file part as ".".
        {"*.*", true, "a.txt", true},
        {"*.*", true, "sub/b.bin", true},
        {"*.*", true, "README", true},
        {"*.*", true, "sub/", true},
        // Without recursion a line without folder only selects top-level names.
        {"*.*", false, "a.txt", true},
        {"*.*", false, "README", true},
        {"*.*", false, "sub/b.bin", false},
        {"*.txt", true, "x.TXT", true},
        {"*.txt", true, "deep/y.txt", true},
        {"*.txt", true, "y.txtx", false},
        // A line with a folder is matched against the whole name, "*" running across folders.
        {"sub/*.txt", true, "sub/a.txt", true},
        {"sub/*.txt", true, "sub/deep/b.txt", true},
        {"sub/*.txt", true, "other/sub/a.txt", false},
        {"sub/*.txt", false, "sub/a.txt", true},
        {"sub/*.txt", false, "sub/deep/b.txt", false},
        {"?.txt", true, "a.txt", true},
        {"?.txt", true, "ab.txt", false},
        {"?.txt", true, ".txt", false},
        {"a?", true, "a", false},
        {"a*?", true, "a", true},
        {"a*?", true, "abc", true},
        {"*", true, "anything.at.all", true},
        {"*.", true, "noext", true},
        {"*.", true, "has.ext", false},
        {"A*b", true, "axxB", true},
        {"[ab].txt", true, "[ab].txt", true},
        {"[ab].txt", true, "a.txt", false},
        // The other separator is an ordinary character to the matcher.
        {"sub\\*.txt", true, "sub/a.txt", false},
        {"", true, "a.txt", false},
        {"*.*", true, "", false},
    };
    for (const SelectCase& c : cases) {
        TStringList spec = {c.line};
        EXPECT_EQ(SelectEntry(c.name, spec, c.recurseDirs), c.selected)
            << "line '" << c.line << "' name '" << c.name << "' recurse " << c.recurseDirs;
    }
}

TEST(SelectEntry, LineWithoutDotIsChangedForGood) {
    TStringList spec = {"data"};
    EXPECT_FALSE(SelectEntry("data.bin", spec, true));
    EXPECT_EQ(spec[0], "data.");
    EXPECT_TRUE(SelectEntry("data", spec, true));  // matched as "data." against "data."
    EXPECT_FALSE(SelectEntry("data.bin", spec, true));
    EXPECT_EQ(spec[0], "data.");

    TStringList selecting = {"*"};
    EXPECT_TRUE(SelectEntry("noext", selecting, true));
    EXPECT_EQ(selecting[0], "*");  // a line that matched at once stays as it was
}

TEST(SelectEntry, LineEqualToTheNameSelectsAtOnce) {
    TStringList spec = {"Readme.TXT"};
    EXPECT_TRUE(SelectEntry("readme.txt", spec, false));
    TStringList withMaskCharacters = {"we?rd*[1].txt"};
    EXPECT_TRUE(SelectEntry("WE?RD*[1].TXT", withMaskCharacters, false));
    TStringList withFolder = {"Sub/Deep/X.bin"};
    EXPECT_TRUE(SelectEntry("sub/deep/x.bin", withFolder, false));
}

TEST(SelectEntry, LinesAreTriedInOrderSkippingEmptyOnes) {
    TStringList spec = {"", "*.bin", "", "docs/*"};
    EXPECT_TRUE(SelectEntry("a.bin", spec, true));
    EXPECT_TRUE(SelectEntry("docs/x.txt", spec, true));
    EXPECT_FALSE(SelectEntry("a.txt", spec, true));
    TStringList empty;
    EXPECT_FALSE(SelectEntry("a.txt", empty, true));
    TStringList onlyEmpty = {"", ""};
    EXPECT_FALSE(SelectEntry("a.txt", onlyEmpty, true));
}

TEST(SelectEntry, BytesOutsideAsciiCompareExactly) {
    // Code page 949: 한글.txt is C7 D1 B1 DB; E7 D1 differs from C7 D1 only in
    // bit 5, which a case fold outside ASCII would ignore.
    const std::string hangul = "\xC7\xD1\xB1\xDB.txt";
    const struct {
        std::string line;
        bool selected;
    } cases[] = {
        {"\xC7\xD1\xB1\xDB.txt", true},
        {"\xC7\xD1*", true},
        {"?\xD1*.TXT", true},
        {"*\xDB.txt", true},
        {"\xE7\xD1\xB1\xDB.txt", false},
        {"\xE7\xD1*", false},
        {"*\xFB.txt", false},
    };
    for (const auto& c : cases) {
        TStringList spec = {c.line};
        EXPECT_EQ(SelectEntry(hangul, spec, true), c.selected) << c.line;
    }
}

TEST(InternalMask, CompiledStates) {
    const TInternalMask mask("**a?*?b.");
    const auto& states = mask.States();
    ASSERT_EQ(states.size(), 5u);  // a, ?, b, ., final
    EXPECT_TRUE(states[0].skipTo);
    EXPECT_EQ(states[0].literal, 'A');
    EXPECT_EQ(states[1].kind, TInternalMask::kAnyChar);
    EXPECT_FALSE(states[1].skipTo);
    EXPECT_TRUE(states[2].skipTo);  // the "?" after "*" was dropped
    EXPECT_EQ(states[2].literal, 'B');
    EXPECT_EQ(states[3].literal, '.');
    EXPECT_EQ(states[4].literal, '\0');
    EXPECT_FALSE(states[4].skipTo);
    EXPECT_TRUE(mask.TrailingDot());
    EXPECT_TRUE(TInternalMask("x*").States().back().skipTo);
}

TEST(InternalMask, BacktracksToLaterOccurrences) {
    const struct {
        const char* mask;
        const char* name;
        bool matches;
    } cases[] = {
        {"*ab", "aab", true},
        {"*ab*ab", "abxabab", true},
        {"*a.b", "a.a.b", true},
        {"a*b*c", "abbbbc", true},
        {"a*b*c", "acbbb", false},
        {"*x?z", "xyzxxz", true},
        {"*x?z", "xyzxz", false},
        {"*x?z", "xxyz", true},
        {"*x?z", "xyzx", false},
        {"", "", true},
        {"", "a", false},
        {"*", "", true},
        {"?", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TInternalMask(c.mask).MatchesMask(c.name), c.matches) << c.mask << " / " << c.name;
}

TEST(InternalMask, ManyStarsMatchCorrectlyAndPathologicalMasksStayCheap) {
    // More skip-to states than a 30-entry stack holds.
    std::string mask, name;
    for (char c = 'a'; c <= 'z'; ++c) mask += std::string("*") + c;
    for (char c = 'A'; c <= 'P'; ++c) mask += std::string("*") + c;  // 42 skip-to states
    for (char c = 'a'; c <= 'z'; ++c) name += std::string("-") + c;
    for (char c = 'a'; c <= 'p'; ++c) name += std::string("-") + c;
    EXPECT_TRUE(TInternalMask(mask).MatchesMask(name));
    EXPECT_FALSE(TInternalMask(mask + "*q").MatchesMask(name));

    // A mask that makes plain backtracking exponential: "*a" forty times and
    // a "b" that never comes, against a long run of "a". This finishes only
    // when matching is bounded by name length x mask length.
    std::string hostile;
    for (int i = 0; i < 40; ++i) hostile += "*a";
    hostile += "*b";
    const std::string manyA(5000, 'a');
    EXPECT_FALSE(TInternalMask(hostile).MatchesMask(manyA));
    EXPECT_TRUE(TInternalMask(hostile).MatchesMask(manyA + "b"));
    TStringList spec = {hostile};
    EXPECT_FALSE(SelectEntry(manyA, spec, true));
}

TEST(DirPart, Cases) {
    const struct {
        const char* path;
        const char* dir;
    } cases[] = {
        {"C:\\x", "C:\\"}, {"sub\\a.txt", "sub"}, {"ab\\x", "ab"}, {"sub/a.txt", "sub"},
        {"C:/x", "C:/"},   {"C:x", "C:x"},         {"C:\\", "C:\\"}, {"a.txt", ""},
        {"", ""},          {"a/b/c", "a/b"},      {"/top", ""},     {"x:yz", "x:"},
    };
    for (const auto& c : cases) EXPECT_EQ(DirPart(c.path), c.dir) << c.path;
}

}  // namespace
