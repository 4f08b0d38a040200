// An update fetched by its changed entries alone, through the real download
// component (libcurl here, WinINet on Windows) and extractor with a
// stand-in window: the first install takes the whole archive, the next one
// only the ranges of the entries that changed, and the window counts the
// bytes fetched.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/differential_fetch.h"
#include "app/core/kbytes_format.h"
#include "app/core/update_controller.h"
#include "archive/unzip.h"
#include "archive_server.h"
#include "download/download_component.h"
#include "fake_updater_view.h"
#include "platform/file_system.h"
#include "program_folder_files.h"
#include "release/manifest_json.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"
#include "tools/quendal_publish/archive_survey.h"

namespace fs = std::filesystem;
using C = TUpdaterControl;
using namespace program_folder;

namespace {

// The manifest quendal-publish would write for `archive`, unsigned.
std::string ManifestWithEntries(const fs::path& archive, const std::string& version) {
    std::string error;
    auto entries = SurveyArchive(archive.string(), error);
    EXPECT_TRUE(entries) << error;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return release::WriteManifest({"Quendal",
                                   *release::ReleaseVersion::Parse(version),
                                   release::UtcTime::FromUnixSeconds(now),
                                   release::UtcTime::FromUnixSeconds(now + 86400),
                                   {"Quendal.zip", fs::file_size(archive), *platform::Sha256OfFile(archive.string())},
                                   entries.value_or(std::vector<release::ManifestEntry>{})});
}

std::string Native(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end()) + static_cast<char>(fs::path::preferred_separator);
}

class DifferentialInstallTest : public ::testing::Test {
protected:
    // Zips the source folder, serves it with its manifest and runs a fresh
    // window's update against it; the server, for what it was asked. A
    // server whose archive has bytes beyond the manifest's (`trailing`)
    // serves another archive than the manifest describes; `duringRun` is
    // called whenever the window's messages are pumped. Only a run left
    // alone on a true server is to start the program.
    std::unique_ptr<TArchiveServer> Run(const std::string& version, const std::string& trailing = {},
                                        const std::function<void(TUpdateController&)>& duringRun = {}) {
        const fs::path archive = work_ / "Quendal.zip";
        fs::remove(archive);
        EXPECT_FALSE(ZipOf(work_ / "update", archive).empty()) << "zip failed";
        auto server = std::make_unique<TArchiveServer>(ReadAll(archive) + trailing, 0, TServing::Whole,
                                                       TServedFile{ManifestWithEntries(archive, version)});
        view_.emplace();  // the old window's message pump goes first
        TWinHTTPDownload download;
        TUnZip unzip;
        TUpdateController controller(*view_, download, unzip, server->UpdateUrl(), Native(program_.path()));
        if (duringRun) view_->onPump = [&] { duringRun(controller); };
        controller.FormCreate();
        controller.FormResize();
        view_->onPump = nullptr;
        EXPECT_TRUE(view_->errors.empty());
        if (trailing.empty() && !duringRun) {
            EXPECT_FALSE(AwaitStartRecord(program_.path()).empty()) << "the program did not start";
            fs::remove(StartRecord(program_.path()));
        }
        return server;
    }

    std::string LastLogLine() const {
        const std::string log = ReadAll(program_ / kUpdateFolder / "update.log");
        const size_t start = log.rfind('\n', log.size() - 2);
        return log.substr(start == std::string::npos ? 0 : start + 1);
    }

    const TempFolder program_{"quendal-differential-install"};
    const TempFolder work_{"quendal-differential-install-work"};
    std::optional<TFakeUpdaterView> view_;
};

// Larger than the rest of the first release together, the Windows stand-in program included.
constexpr size_t kBigFile = 4 * 1024 * 1024;

// The first release's source folder, and a file of the user's beside the program.
void MakeFirstRelease(const fs::path& source, const fs::path& program) {
    WriteFile(program / "settings.ini", "[kept]\nby=user\n");
    WriteFile(source / "Quendal.exe", StandInProgram("1.0"), fs::perms(0755));
    WriteFile(source / "data" / "big.bin", Noise(kBigFile, 1));
    WriteFile(source / KoreanSourceFile(), "first\n");
    for (int i = 0; i < 30; ++i) WriteFile(source / "lib" / ("part" + std::to_string(i)), Noise(3000 + i, 10 + i));
}

TEST_F(DifferentialInstallTest, FetchesTheChangedEntriesByRangeAndCountsTheirBytes) {
    const fs::path source = work_ / "update";
    MakeFirstRelease(source, program_.path());
    {
        SCOPED_TRACE("1.0.0: nothing in place yet, the archive comes whole");
        const auto expected = Updated(Contents(program_.path()), work_.path());
        const auto server = Run("1.0.0");
        EXPECT_EQ(Contents(program_.path()), expected);
        EXPECT_TRUE(server->ArchiveRanges().empty());
        EXPECT_EQ(server->ArchiveRequests(), 1);
        EXPECT_NE(LastLogLine().find("fetch=whole (the changed entries need"), std::string::npos) << LastLogLine();
    }

    WriteFile(source / "Quendal.exe", StandInProgram("1.1"), fs::perms(0755));
    WriteFile(source / KoreanSourceFile(), "second\n");
    WriteFile(source / "lib" / "new.txt", "added\n");
    WriteFile(source / "lib" / "part7", ReadAll(source / "lib" / "part7") + Noise(5000, 99));
    {
        SCOPED_TRACE("2.0.0: four entries by range");
        const auto expected = Updated(Contents(program_.path()), work_.path());
        const auto server = Run("2.0.0");
        EXPECT_EQ(Contents(program_.path()), expected);
        EXPECT_NE(LastLogLine().find("fetch=entries (4 of 34 entries"), std::string::npos) << LastLogLine();
        const std::vector<std::string> ranges = server->ArchiveRanges();
        ASSERT_FALSE(ranges.empty());
        EXPECT_EQ(server->ArchiveRequests(), static_cast<int>(ranges.size()));  // nothing asked whole
        int64_t fetched = 0;
        for (const std::string& range : ranges) {
            const size_t dash = range.find('-');
            fetched += std::stoll(range.substr(dash + 1)) - std::stoll(range.substr(0, dash)) + 1;
        }
        EXPECT_LT(fetched, static_cast<int64_t>(fs::file_size(work_ / "Quendal.zip") - kBigFile));  // it stays on the server
        // The gauge and the counter count the bytes fetched, not the archive's.
        EXPECT_EQ((*view_)[C::pBar].maximum, fetched);
        EXPECT_EQ((*view_)[C::pBar].position, fetched);
        const std::string kbytes = FormatKBytes(fetched, view_->ThousandsSeparator());
        EXPECT_EQ((*view_)[C::lblBytes].caption, kbytes + " / " + kbytes + " KBytes");
        EXPECT_EQ(view_->Captions(C::labDown), std::vector<std::string>{"Quendal.zip을 다운받았습니다."});
        EXPECT_FALSE(fs::exists(program_ / kUpdateFolder / "entries.zip"));
    }

    WriteFile(source / "lib" / "part9", "changed in 3.0\n");
    {
        SCOPED_TRACE("3.0.0 from a server whose archive is not the manifest's: its ranges, then the whole, refused");
        const auto before = Contents(program_.path());
        const auto server = Run("3.0.0", "x");
        EXPECT_EQ(Contents(program_.path()), before);
        EXPECT_FALSE(server->ArchiveRanges().empty());
        EXPECT_EQ((*view_)[C::labDown].caption, "Quendal.zip의 서명을 확인할 수 없습니다.");
        EXPECT_NE(LastLogLine().find("result=archive off its manifest"), std::string::npos) << LastLogLine();
        EXPECT_NE(LastLogLine().find("fetch=whole (range of another archive)"), std::string::npos) << LastLogLine();
        EXPECT_FALSE(fs::exists(program_ / kUpdateFolder / "entries.zip"));
    }
}

}  // namespace

namespace {

// A release that turns a file into a folder and drops a plug-in, through the
// controller with the real components on both systems: the folder takes the
// file's place, the plug-in goes, and the user's own file stays.
TEST_F(DifferentialInstallTest, AFileBecomesAFolderAndADroppedFileGoes) {
    const fs::path source = work_ / "update";
    MakeFirstRelease(source, program_.path());
    WriteFile(source / "docs", "docs as one file\n");
    WriteFile(source / "plugins" / "old.dll", "old plug-in\n");
    Run("1.0.0");
    WriteFile(program_ / "plugins" / "mine.dll", "the user's own\n");

    fs::remove(source / "docs");
    WriteFile(source / "docs" / "index.html", "docs as a folder\n");
    fs::remove_all(source / "plugins");
    auto expected = Updated(Contents(program_.path()), work_.path());
    expected.erase("plugins" + std::string(1, static_cast<char>(fs::path::preferred_separator)) + "old.dll");
    Run("2.0.0");

    EXPECT_EQ(Contents(program_.path()), expected);
    EXPECT_NE(LastLogLine().find("result=installed"), std::string::npos) << LastLogLine();
    EXPECT_NE(LastLogLine().find("fetch=entries (1 of "), std::string::npos) << LastLogLine();
}

// Cancelled while the changed entries arrive: nothing of them is installed
// or left behind, and the run ends as a cancelled download does.
TEST_F(DifferentialInstallTest, CancelWhileTheRangesArriveLeavesNothingBehind) {
    const fs::path source = work_ / "update";
    MakeFirstRelease(source, program_.path());
    Run("1.0.0");
    WriteFile(source / "lib" / "part3", Noise(40000, 3));
    WriteFile(source / "lib" / "part20", Noise(40000, 20));
    const auto before = Contents(program_.path());
    bool cancelled = false;
    const auto server = Run("2.0.0", {}, [&](TUpdateController& controller) {
        if (cancelled || (*view_)[C::pBar].position == 0) return;
        cancelled = true;
        controller.btnCancelClick();
    });
    fs::remove(fs::path(platform::ProgramFolder()) / "Vkr.dat");  // the cancelled run's flag
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(server->ArchiveRanges().empty());
    EXPECT_EQ(Contents(program_.path()), before);
    EXPECT_FALSE(fs::exists(program_ / kUpdateFolder / "entries.zip"));
    EXPECT_EQ((*view_)[C::labDown].caption, "다운로드가 중지 되었습니다");
    EXPECT_FALSE(fs::exists(StartRecord(program_.path())));
}

}  // namespace

namespace {

// What the stage must hold before the swap: each fetched entry with the
// manifest's SHA-256, and nothing else, whatever the fetched bytes put there.
TEST(DifferentialFetchStage, HoldsTheFetchedEntriesAndNothingElse) {
    const struct {
        const char* name;
        std::map<std::string, std::string> staged;
        std::string failedStep;
        std::string failedEntry;
    } cases[] = {
        {"as the manifest says", {{"a.txt", "new\n"}, {"sub/b.txt", "b\n"}}, "", ""},
        {"other bytes", {{"a.txt", "New\n"}, {"sub/b.txt", "b\n"}}, "sha256", "a.txt"},
        {"an entry missing", {{"sub/b.txt", "b\n"}}, "sha256", "a.txt"},
        {"a file the manifest does not list", {{"a.txt", "new\n"}, {"sub/b.txt", "b\n"}, {"sub/c.dll", "c"}},
         "refused", "sub" + std::string(1, static_cast<char>(fs::path::preferred_separator)) + "c.dll"},
    };
    const auto digest = [](const std::string& bytes) {
        const TempFolder folder("quendal-digest");
        WriteFile(folder / "file", bytes);
        return *platform::Sha256OfFile((folder / "file").string());
    };
    release::ReleaseManifest manifest{"Quendal", *release::ReleaseVersion::Parse("2.0"),
                                      release::UtcTime::FromUnixSeconds(0), release::UtcTime::FromUnixSeconds(0),
                                      {"Quendal.zip", 100000, {}}, {}};
    manifest.entries = {{"a.txt", 4, 0, digest("new\n"), 0, 100},
                        {"sub/b.txt", 2, 0, digest("b\n"), 200, 100},
                        {"kept.txt", 5, 0, digest("kept\n"), 300, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TempFolder program("quendal-differential-stage");
        WriteFile(program / "a.txt", "old\n");
        WriteFile(program / "kept.txt", "kept\n");
        TInstallFileSystem files;
        const TUpdateFolder folder{Native(program.path())};
        TDifferentialFetch fetch(files, folder, manifest);
        ASSERT_EQ(fetch.Fallback(), "");
        for (const auto& [name, bytes] : c.staged) WriteFile(fs::path(folder.Stage()) / name, bytes);
        TInstallFailure failure;
        EXPECT_EQ(fetch.StageMatchesManifest(folder.Stage(), failure), c.failedStep.empty());
        EXPECT_EQ(failure.step, c.failedStep);
        EXPECT_EQ(failure.entry, c.failedEntry);
    }
}

// A manifest may claim any sizes; what the window and the download cannot
// count is fetched whole, and refused there if it is more than they hold.
TEST(DifferentialFetchPlan, BytesBeyondWhatOneFetchHoldsGoWhole) {
    const TempFolder program("quendal-differential-plan");
    release::ReleaseManifest manifest{"Quendal", *release::ReleaseVersion::Parse("2.0"),
                                      release::UtcTime::FromUnixSeconds(0), release::UtcTime::FromUnixSeconds(0),
                                      {"Quendal.zip", uint64_t{10} << 30, {}}, {}};
    manifest.entries = {{"big.bin", uint64_t{3} << 30, 0, {}, 0, uint64_t{3} << 30}};
    TInstallFileSystem files;
    const TDifferentialFetch fetch(files, TUpdateFolder{Native(program.path())}, manifest);
    EXPECT_NE(fetch.Fallback().find("more than one fetch holds"), std::string::npos) << fetch.Fallback();
    EXPECT_TRUE(fetch.NothingToFetch());
}

}  // namespace

namespace {

// A link is compared by its target text and a file by its mode as well as its
// bytes: an unchanged link (to a file or a folder) is not fetched, a link
// given another target or a file given another mode alone is, and each is
// installed as what it is.
TEST_F(DifferentialInstallTest, LinksAreComparedByTheirTextAndFilesByTheirModeToo) {
    SKIP_ON_WINDOWS("the archives are made with links by the zip tool, and Wine fakes the making of links");
    const fs::path source = work_ / "update";
    MakeFirstRelease(source, program_.path());
    WriteFile(source / "lib" / "libfoo.so.1", "\x7f" "ELF 1\n");
    fs::create_symlink("libfoo.so.1", source / "lib" / "libfoo.so");
    WriteFile(source / "share" / "font.txt", "font\n");
    fs::create_symlink("share", source / "current");
    WriteFile(source / "data" / "tool.sh", "#!/bin/sh\necho tool\n", fs::perms(0644));
    {
        SCOPED_TRACE("1.0.0: the archive comes whole");
        const auto expected = Updated(Contents(program_.path()), work_.path());
        Run("1.0.0");
        EXPECT_EQ(Contents(program_.path()), expected);
    }

    fs::permissions(source / "data" / "tool.sh", fs::perms(0755));
    WriteFile(source / "lib" / "libfoo.so.2", "\x7f" "ELF 2\n");
    fs::remove(source / "lib" / "libfoo.so");
    fs::create_symlink("libfoo.so.2", source / "lib" / "libfoo.so");
    {
        SCOPED_TRACE("2.0.0: the new mode, the new library and the link to it");
        const auto expected = Updated(Contents(program_.path()), work_.path());
        Run("2.0.0");
        EXPECT_EQ(Contents(program_.path()), expected);
        EXPECT_NE(LastLogLine().find("fetch=entries (3 of "), std::string::npos) << LastLogLine();
        EXPECT_EQ(fs::status(program_ / "data" / "tool.sh").permissions() & fs::perms::mask, fs::perms(0755));
        ASSERT_TRUE(fs::is_symlink(program_ / "lib" / "libfoo.so"));
        EXPECT_EQ(fs::read_symlink(program_ / "lib" / "libfoo.so"), "libfoo.so.2");
        ASSERT_TRUE(fs::is_symlink(program_ / "current"));
        EXPECT_EQ(fs::read_symlink(program_ / "current"), "share");
    }

    WriteFile(source / "lib" / "part9", "changed in 3.0\n");
    {
        SCOPED_TRACE("3.0.0: one file, the links known unchanged");
        Run("3.0.0");
        EXPECT_NE(LastLogLine().find("fetch=entries (1 of "), std::string::npos) << LastLogLine();
    }
}

}  // namespace
