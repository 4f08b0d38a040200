// Symbolic-link entries: made in folders not there yet, replaced by the next
// run, and made only when their target, resolved by its names, stays inside
// the target folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "extract_test_support.h"
#include "frame_test_support.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

using namespace extract_test;
using frame_test::ReadFile;
using frame_test::WriteFile;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t kMadeOnUnix = 0x031E;

Entry Link(const std::string& name, const std::string& target) {
    Entry link(name, target, 0, 0120777u << 16);
    link.madeBy = kMadeOnUnix;
    return link;
}

Entry UnixFile(const std::string& name, const std::string& data) {
    Entry file(name, data, 0, 0100644u << 16);
    file.madeBy = kMadeOnUnix;
    return file;
}

const std::string kFixtures = std::string(QUENDAL_TEST_FIXTURES) + "/links/";

// Wine 8 reports links as made without making them: only the refusals,
// which come before, can be seen there.
#define SKIP_WITHOUT_LINKS() SKIP_ON_WINDOWS("Wine 8 reports symbolic links as made without making them")

class ExtractLinks : public ExtractFixture {
protected:
    // Each run's events alone.
    void RunArchive(const std::string& archive) {
        log_.lines.clear();
        ExtractFixture::RunArchive(archive);
    }
    void Run(const std::vector<Entry>& entries) {
        log_.lines.clear();
        ExtractFixture::Run(entries);
    }
    bool Logged(const std::string& line) const {
        return std::find(log_.lines.begin(), log_.lines.end(), line) != log_.lines.end();
    }
    bool IsLinkTo(const std::string& name, const std::string& target) const {
        std::error_code error;
        return fs::is_symlink(fs::symlink_status(target_ + name, error)) &&
               fs::read_symlink(target_ + name, error).string() == target;
    }
};

TEST_F(ExtractLinks, ALinkIsMadeInAFolderNotThereYet) {
    SKIP_WITHOUT_LINKS();
    RunArchive(kFixtures + "link-in-missing-folder.zip");
    EXPECT_EQ(log_.lines, (std::vector<std::string>{"Activate", "Begin sub/l 1", "Progress 100 17", "End sub/l pass", "Begin sub/x 2",
                                                    "Progress 100 100", "End sub/x pass", "Deactivate"}));
    EXPECT_TRUE(IsLinkTo("sub/l", "x"));
    EXPECT_EQ(ReadFile(target_ + "sub/l"), "data\n");
}

// An update may change where a link leads: the link standing at the entry's
// name is replaced, never followed.
TEST_F(ExtractLinks, TheNextRunReplacesALinkItMadeBefore) {
    SKIP_WITHOUT_LINKS();
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        RunArchive(kFixtures + "library-link.zip");
        EXPECT_TRUE(Logged("End lib/libx.so pass"));
        EXPECT_TRUE(IsLinkTo("lib/libx.so", "libx.so.1"));
    }
    Run({UnixFile("lib/libx.so.2", "new"), Link("lib/libx.so", "libx.so.2")});
    EXPECT_TRUE(Logged("End lib/libx.so pass"));
    EXPECT_TRUE(IsLinkTo("lib/libx.so", "libx.so.2"));
    EXPECT_EQ(ReadFile(target_ + "lib/libx.so.1"), "elf");
}

TEST_F(ExtractLinks, TargetsAreResolvedByTheirNamesOverWhatIsOnDisk) {
    SKIP_WITHOUT_LINKS();
    struct Case {
        const char* what;
        std::vector<Entry> entries;  // the last one is the link judged
        bool made;
    };
    const std::vector<Case> cases = {
        {"down and back up over folders that are there",
         {UnixFile("top/a/b/c/f", "f"), UnixFile("top/x", "x"), Link("L/l", "../top/./a/b/c/../../../x")}, true},
        {"up out of folders not there yet", {Link("L/l", "../top/a/b/../../x")}, false},
        // Were "b/../x" made, the link "b -> ." would take it out of the target.
        {"up out of a folder a later entry could make a link", {Link("l", "b/../x")}, false},
        {"through a link", {Link("dot", "."), Link("l", "dot/x")}, false},
        {"up out of a link", {Link("dot", "."), Link("l", "dot/..")}, false},
        {"to a link", {UnixFile("libx.so.1.0", "elf"), Link("libx.so.1", "libx.so.1.0"), Link("libx.so", "libx.so.1")},
         true},
        {"above the target", {UnixFile("sub/f", "f"), Link("sub/l", "../../x")}, false},
        {"above the target and back", {Link("l", "../out/x")}, false},
        {"a backslash is part of a name here", {Link("l", "..\\..\\x")}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(target_);
        Run(c.entries);
        const Entry& link = c.entries.back();
        EXPECT_EQ(IsLinkTo(link.name, link.data), c.made);
        EXPECT_EQ(Logged("Error 26800 " + link.name + " " + link.data), !c.made);
        EXPECT_EQ(Logged("End " + link.name + " pass"), c.made);
    }
}

// Windows takes "/" for a separator as well as "\": a target written with
// either is judged by the same parts.
TEST_F(ExtractLinks, TargetsLeadingOutWithEitherSeparatorAreRefused) {
    RunArchive(kFixtures + "either-separator-targets.zip");
    // The log shows native separators as "/".
    const std::string mixed = kWindowsBuild ? "../../../../../../outside-target" : "..\\../../../../../outside-target";
    EXPECT_EQ(log_.lines, (std::vector<std::string>{
                              "Activate", "Begin up 1", "Progress 100 58",
                              "Error 26800 up ../../../../../../../../../../outside-target", "End up fail",
                              "Begin a/b/m 1", "Progress 100 100", "Error 26800 a/b/m " + mixed, "End a/b/m fail",
                              "Deactivate"}));
    EXPECT_FALSE(fs::exists(target_ + "up"));
    EXPECT_FALSE(fs::exists(target_ + "a/b/m"));
}

}  // namespace
