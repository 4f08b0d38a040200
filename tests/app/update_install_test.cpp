// The whole update with the real download and extraction components and a
// stand-in window: what lands in the program folder, what the window shows,
// and what is started at the end.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/update_controller.h"
#include "archive/unzip.h"
#include "archive_server.h"
#include "download/download_component.h"
#include "fake_updater_view.h"
#include "install/faulty_file_system.h"
#include "manifest_maker.h"
#include "program_folder_files.h"
#include "support/openssl_signer.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

namespace fs = std::filesystem;
using C = TUpdaterControl;
using namespace program_folder;

namespace {

class UpdateInstallTest : public ::testing::Test {
protected:
    TUpdateController& Controller(const std::string& url, const std::string& publicKeyPem = {}) {
        controller_ =
            std::make_unique<TUpdateController>(view_, download_, unzip_, url, program_.str() + "/", publicKeyPem);
        controller_->FormCreate();
        return *controller_;
    }

    // The three buttons, in the order Cancel, Restart, Close.
    std::vector<bool> Buttons() {
        return {view_[C::btnCancel].enabled, view_[C::btnRedown].enabled, view_[C::btnClose].enabled};
    }

    TempFolder program_{"quendal-program"};
    TempFolder work_{"quendal-update-source"};
    TFakeUpdaterView view_;
    TWinHTTPDownload download_;
    TUnZip unzip_;
    std::unique_ptr<TUpdateController> controller_;
};

TEST_F(UpdateInstallTest, ACompleteRunReplacesTheProgramAndStartsTheNewOne) {
    InstallOldProgram(program_.path());
    const std::string archive = MakeUpdate(work_.path());
    ASSERT_FALSE(archive.empty()) << "zip failed";
    TArchiveServer server(archive);
    const auto expected = Updated(Contents(program_.path()), work_.path());

    // From the extractor's first begin event on, the user can press nothing.
    int begins = 0;
    int pumpsWhileExtracting = 0;
    TUpdateController& controller = Controller(server.UpdateUrl());
    auto begin = unzip_.OnBegin;
    unzip_.OnBegin = [&](TObject* sender, const std::string& name, int32_t count, bool& extract) {
        begin(sender, name, count, extract);
        ++begins;
    };
    view_.onPump = [&] {
        if (begins == 0) return;
        ++pumpsWhileExtracting;
        EXPECT_EQ(Buttons(), (std::vector<bool>{false, false, false}));
    };

    controller.FormResize();

    EXPECT_EQ(AwaitStartRecord(program_.path()), "Quendal 1.1\n" + fs::current_path().string() + "\n");
    fs::remove(StartRecord(program_.path()));
    EXPECT_EQ(Contents(program_.path()), expected);  // the archive is gone too
    EXPECT_EQ(view_.terminationRequests, 1);

    EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{"Quendal.zip을 다운받았습니다."});
    EXPECT_EQ(view_.Captions(C::labUnzip), (std::vector<std::string>{"Quendal.zip의 압축을 풀고 있는 중입니다....",
                                                                       "압축을 풀었습니다. 설치를 진행합니다."}));
    EXPECT_EQ(begins, 5);
    EXPECT_GT(pumpsWhileExtracting, 10);
    EXPECT_EQ(view_[C::Gauge1].position, 100);
    EXPECT_EQ(view_[C::Gauge2].position, 100);
    EXPECT_FALSE(view_[C::lblBytes].visible);
    EXPECT_TRUE(view_[C::labUnzip].visible);
    EXPECT_TRUE(view_.errors.empty());
}

// Closing the window stops whichever component is running, the extraction
// too: the stage is abandoned, the program stays as it was, nothing starts.
TEST_F(UpdateInstallTest, ClosingDuringTheExtractionStopsItAndChangesNothing) {
    InstallOldProgram(program_.path());
    const std::string archive = MakeUpdate(work_.path());
    ASSERT_FALSE(archive.empty()) << "zip failed";
    TArchiveServer server(archive);
    const auto before = Contents(program_.path());

    TUpdateController& controller = Controller(server.UpdateUrl());
    int begins = 0;
    auto begin = unzip_.OnBegin;
    unzip_.OnBegin = [&](TObject* sender, const std::string& name, int32_t count, bool& extract) {
        begin(sender, name, count, extract);
        ++begins;
    };
    bool closed = false;
    view_.onPump = [&] {
        if (begins == 0 || closed) return;
        controller.FormCloseQuery(closed);
    };

    controller.FormResize();

    ASSERT_TRUE(closed);
    EXPECT_LT(begins, 5) << "the extraction ran to its end";
    EXPECT_EQ(Contents(program_.path()), before);
    EXPECT_FALSE(fs::exists(program_ / "Quendal.zip"));
    const std::string log = ReadAll(program_ / kUpdateFolder / "update.log");
    EXPECT_NE(log.find(" result=failed step=extract"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(StartRecord(program_.path())));
    EXPECT_EQ(view_.terminationRequests, 1);
    EXPECT_TRUE(view_.errors.empty());
}

// An update goes in whole or not at all: when one entry does not come out
// whole, or a new file cannot take the place of what is there, the program
// folder stays as it was, the log says where it stopped, nothing is started
// and the user may try again or close.
TEST_F(UpdateInstallTest, AnUpdateThatDoesNotComeOutWholeChangesNothing) {
    struct Case {
        const char* name;
        const char* step;  // as the log names it
    };
    const Case cases[] = {
        {"one byte of one entry flipped", "crc"},
        {"an entry in the updater's own folder", "refused"},
        {"a folder of the user's files where a new file goes", "check"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        fs::remove_all(program_.path());
        fs::create_directory(program_.path());
        InstallOldProgram(program_.path());
        TempFolder work{"quendal-update-source"};
        if (name == "an entry in the updater's own folder")
            WriteFile(work / "update" / kUpdateFolder / "journal", "quendal-update-journal 1\nF ../x\nend\n");
        std::string archive = MakeUpdate(work.path());
        ASSERT_FALSE(archive.empty()) << "zip failed";
        if (name == "one byte of one entry flipped") {
            // Inside table.bin's data, 300 KiB of noise that no compressor
            // shrinks: a flipped bit there can only fail the CRC.
            const size_t at = archive.find("table.bin");
            ASSERT_NE(at, std::string::npos);
            archive[at + 4096] ^= 0x01;
        }
        if (name == "a folder of the user's files where a new file goes") {
            fs::remove(program_ / "readme.txt");
            WriteFile(program_ / "readme.txt" / "notes" / "mine.txt", "the user's\n");
        }
        const auto before = Contents(program_.path());
        view_.log.clear();
        view_.rows.clear();
        TArchiveServer server(archive);

        Controller(server.UpdateUrl()).FormResize();

        EXPECT_EQ(Contents(program_.path()), before);
        EXPECT_FALSE(fs::exists(program_ / "Quendal.zip"));
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(program_ / kUpdateFolder))
            left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"update.log"});
        const std::string log = ReadAll(program_ / kUpdateFolder / "update.log");
        EXPECT_NE(log.find(" url=" + server.UpdateUrl() + " bytes=" + std::to_string(archive.size()) +
                           " result=failed step=" + c.step),
                  std::string::npos)
            << log;
        EXPECT_EQ(view_.Captions(C::labUnzip), (std::vector<std::string>{"Quendal.zip의 압축을 풀고 있는 중입니다....",
                                                                           "Quendal.zip의 압축을 풀 수 없습니다."}));
        EXPECT_EQ(Buttons(), (std::vector<bool>{false, true, true}));
        EXPECT_FALSE(fs::exists(StartRecord(program_.path())));
        EXPECT_EQ(view_.terminationRequests, 0);
        EXPECT_TRUE(view_.errors.empty());
    }
}

// A volume too small for the archive, or for what it holds once extracted:
// nothing is fetched, or nothing extracted, and the user is told so.
TEST_F(UpdateInstallTest, AnUpdateThatDoesNotFitOnTheVolumeIsNotWritten) {
    SKIP_ON_WINDOWS("the small volume is a tmpfs mount");
    struct Case {
        const char* name;
        std::string bigFile;  // beside the usual update
        std::vector<std::string> labDown;
        std::vector<std::string> labUnzip;
        const char* logged;
    };
    const std::string noSpace = "Quendal.zip을 설치할 공간이 부족합니다.";
    const Case cases[] = {
        {"an archive larger than the free space", Noise(6 * 1024 * 1024, 4), {noSpace}, {}, "result=no space step=download"},
        {"entries larger than the free space",
         std::string(8 * 1024 * 1024, '\0'),  // a few kilobytes once compressed
         {"Quendal.zip을 다운받았습니다."},
         {"Quendal.zip의 압축을 풀고 있는 중입니다....", noSpace},
         "result=failed step=space"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder mountPoint{"quendal-small-volume"};
        const std::string mount = "mount -t tmpfs -o size=4m tmpfs '" + mountPoint.str() + "' 2>/dev/null";
        if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root)";
        struct Unmount {
            std::string point;
            ~Unmount() { std::system(("umount '" + point + "'").c_str()); }
        } unmount{mountPoint.str()};
        const fs::path program = mountPoint / "Quendal";
        InstallOldProgram(program);
        TempFolder work{"quendal-update-source"};
        WriteFile(work / "update" / "big.bin", c.bigFile);
        const std::string archive = MakeUpdate(work.path());
        const auto before = Contents(program);
        view_.log.clear();
        view_.rows.clear();
        TArchiveServer server(archive);
        controller_ = std::make_unique<TUpdateController>(view_, download_, unzip_, server.UpdateUrl(),
                                                          program.string() + "/");
        controller_->FormCreate();

        controller_->FormResize();

        EXPECT_EQ(Contents(program), before);
        EXPECT_FALSE(fs::exists(program / "Quendal.zip"));
        EXPECT_FALSE(fs::exists(program / kUpdateFolder / "stage"));
        EXPECT_NE(ReadAll(program / kUpdateFolder / "update.log").find(c.logged), std::string::npos);
        EXPECT_EQ(view_.Captions(C::labDown), c.labDown);
        EXPECT_EQ(view_.Captions(C::labUnzip), c.labUnzip);
        EXPECT_EQ(Buttons(), (std::vector<bool>{false, true, true}));
        EXPECT_FALSE(fs::exists(StartRecord(program)));
        EXPECT_EQ(view_.terminationRequests, 0);
    }
}

// A file another program holds is waited for, then the user is asked: Retry
// once it is free installs the update, Cancel leaves the program as it was.
TEST_F(UpdateInstallTest, AHeldFileIsWaitedForThenTheUserDecides) {
    for (const bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "Retry" : "Cancel");
        fs::remove_all(program_.path());
        fs::create_directory(program_.path());
        InstallOldProgram(program_.path());
        TempFolder work{"quendal-update-source"};
        const std::string archive = MakeUpdate(work.path());
        const auto before = Contents(program_.path());
        const auto expected = Updated(before, work.path());
        view_.log.clear();
        view_.rows.clear();
        view_.questions.clear();
        view_.terminationRequests = 0;
        TArchiveServer server(archive);
        TUpdateController& controller = Controller(server.UpdateUrl());
        TFaultyFileSystem files;
        const std::string held = program_.str() + "/readme.txt";
        files.held.insert(held);
        controller.SetInstallFileSystem(files);
        view_.onAskRetry = [&](const std::string&) {
            files.held.clear();
            return retry;
        };

        controller.FormResize();

        EXPECT_EQ(view_.questions,
                  std::vector<std::string>{"다음 파일을 사용 중인 프로그램을 닫은 뒤 다시 시도하세요:\n" + held});
        EXPECT_EQ(files.sleeps.size(), 10u);
        if (retry) {
            EXPECT_EQ(AwaitStartRecord(program_.path()), "Quendal 1.1\n" + fs::current_path().string() + "\n");
            fs::remove(StartRecord(program_.path()));
            EXPECT_EQ(Contents(program_.path()), expected);
            EXPECT_EQ(view_.terminationRequests, 1);
        } else {
            EXPECT_EQ(Contents(program_.path()), before);
            EXPECT_EQ(view_.Captions(C::labUnzip).back(), "Quendal.zip의 압축을 풀 수 없습니다.");
            EXPECT_EQ(Buttons(), (std::vector<bool>{false, true, true}));
            EXPECT_NE(ReadAll(program_ / kUpdateFolder / "update.log").find("result=failed step=held entry=readme.txt"),
                      std::string::npos);
            EXPECT_FALSE(fs::exists(StartRecord(program_.path())));
            EXPECT_EQ(view_.terminationRequests, 0);
        }
        controller_.reset();
    }
}

// Paths in Hangul pass through every step of the install.
TEST_F(UpdateInstallTest, AProgramFolderNamedInHangulIsUpdated) {
    const fs::path program = program_ / fs::path(std::u8string(u8"퀜달 프로그램"));
    InstallOldProgram(program);
    MakeUpdate(work_.path());
    const auto expected = Updated(Contents(program), work_.path());
    TArchiveServer server(ReadAll(work_ / "Quendal.zip"));
    const std::u8string folder = program.u8string() + u8"/";
    controller_ = std::make_unique<TUpdateController>(view_, download_, unzip_, server.UpdateUrl(),
                                                      std::string(folder.begin(), folder.end()));
    controller_->FormCreate();

    controller_->FormResize();

    EXPECT_EQ(AwaitStartRecord(program), "Quendal 1.1\n" + fs::current_path().string() + "\n");
    fs::remove(StartRecord(program));
    EXPECT_EQ(Contents(program), expected);
    EXPECT_FALSE(fs::exists(program / kUpdateFolder / "stage"));
    EXPECT_EQ(view_.terminationRequests, 1);
}

TEST_F(UpdateInstallTest, WithoutTheProgramTheWindowStaysWithEveryButtonDisabled) {
    const std::string archive = MakeUpdate(work_.path(), /*withProgram=*/false);
    TArchiveServer server(archive);

    Controller(server.UpdateUrl()).FormResize();

    EXPECT_FALSE(fs::exists(program_ / "Quendal.zip"));
    EXPECT_TRUE(fs::exists(program_ / "data" / "sub" / "table.bin"));
    EXPECT_EQ(view_[C::labUnzip].caption, "압축을 풀었습니다. 설치를 진행합니다.");
    EXPECT_EQ(Buttons(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(view_.terminationRequests, 0);
}

TEST_F(UpdateInstallTest, AMissingProgramFolderIsReportedAndNothingIsExtracted) {
    const std::string archive = MakeUpdate(work_.path());
    TArchiveServer server(archive);
    TUpdateController& controller = Controller(server.UpdateUrl());
    // The folder goes away once the last bytes are stored, before the run
    // goes on (on Windows, a folder holding an open file cannot be removed).
    auto itemEnd = download_.OnItemDownloadEnd;
    download_.OnItemDownloadEnd = [&, itemEnd](TObject* sender, TDownLoadItem* item) {
        fs::remove_all(program_.path());
        itemEnd(sender, item);
    };

    const auto before = std::chrono::steady_clock::now();
    controller.FormResize();
    const auto elapsed = std::chrono::steady_clock::now() - before;

    EXPECT_FALSE(fs::exists(program_.path()));
    EXPECT_EQ(view_[C::labDown].caption, program_.str() + "/ 폴더가 존재하지 않아서 압축을 풀 수 없습니다....");
    EXPECT_EQ(view_[C::labUnzip].caption, "Quendal.zip의 압축을 풀고 있는 중입니다....");
    EXPECT_GE(elapsed, std::chrono::milliseconds(1000));
    EXPECT_EQ(view_.terminationRequests, 0);
    fs::create_directory(program_.path());  // for the folder's own removal
}

// A download that did not arrive whole, or that is no archive, is never
// extracted: the installed program stays as it was and the user may retry.
TEST_F(UpdateInstallTest, WhatCannotBeInstalledLeavesTheProgramAsItWas) {
    struct Case {
        const char* name;
        TServing serving;
        bool listening;
        std::vector<std::string> labDown;
        std::vector<std::string> labUnzip;
    };
    const std::string notDownloaded = "Quendal.zip을 다운받지 못했습니다.";
    const Case cases[] = {
        {"server closes early", TServing::CloseEarly, true, {notDownloaded}, {}},
        {"server stalls", TServing::Stall, true, {notDownloaded + " 서버가 응답하지 않습니다."}, {}},
        {"nothing listens", TServing::Whole, false, {notDownloaded}, {}},
        {"404 page with a length",
         TServing::NotFound,
         true,
         {"Quendal.zip을 다운받았습니다."},
         {"Quendal.zip의 압축을 풀고 있는 중입니다....", "Quendal.zip의 압축을 풀 수 없습니다."}},
    };
    InstallOldProgram(program_.path());
    const std::string archive = MakeUpdate(work_.path());
    const auto before = Contents(program_.path());
    download_.SetTimeouts({std::chrono::milliseconds(2000), std::chrono::milliseconds(300)});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view_.log.clear();
        view_.rows.clear();  // a new window's queue
        int requests = 0;
        {
            TArchiveServer server(archive, 0, c.serving);
            std::string url = server.UpdateUrl();
            if (!c.listening) url = "127.0.0.1:1/HTTP/Quendown/Quendal.zip";
            TUpdateController& controller = Controller(url);
            controller.FormResize();

            EXPECT_EQ(Contents(program_.path()), before);
            EXPECT_EQ(view_.Captions(C::labDown), c.labDown);
            EXPECT_EQ(view_.Captions(C::labUnzip), c.labUnzip);
            EXPECT_EQ(Buttons(), (std::vector<bool>{false, true, true}));
            EXPECT_FALSE(view_[C::lblBytes].visible);
            EXPECT_FALSE(controller.Cancelled());

            // Restart fetches again.
            controller.btnRedownClick();
            EXPECT_EQ(Contents(program_.path()), before);
            EXPECT_EQ(view_.Captions(C::labDown).back(), c.labDown.back());
            requests = server.Requests();
        }
        EXPECT_EQ(requests, c.listening ? 2 : 0);
        EXPECT_EQ(view_.terminationRequests, 0);
        EXPECT_TRUE(view_.errors.empty());
    }
}

// Without keys a manifest the server offers is taken as it is: its version
// and its archive's length and hash hold as they do when signed. What does
// not read as a manifest (a host's page for any address) is none.
TEST_F(UpdateInstallTest, AnUnsignedManifestIsTakenForItsVersionAndHash) {
    InstallOldProgram(program_.path());
    const std::string archive = MakeUpdate(work_.path());
    ASSERT_FALSE(archive.empty()) << "zip failed";
    std::string tampered = archive;
    tampered[tampered.size() / 2] ^= 0x20;
    WriteFile(program_ / kUpdateFolder / "state.ini", "[Release]\nVersion=1.0\nHighestVersion=1.0\n");
    const auto before = Contents(program_.path());
    // Made first, so that its port is none of the cases' servers'.
    TArchiveServer pageServer(archive, 0, TServing::Whole, TServedFile{"<html>Not here</html>"});
    struct Case {
        const char* name;
        std::string manifest;
        std::string archive;
        std::string labDown;
        int archiveRequests;
    };
    const Case cases[] = {
        {"another product", ManifestOf(archive, work_.path(), "1.1", std::chrono::hours(1), "Other"), archive,
         "업데이트 정보를 확인할 수 없습니다.", 0},
        {"archive off its hash", ManifestOf(archive, work_.path(), "1.1"), tampered,
         "Quendal.zip의 서명을 확인할 수 없습니다.", 1},
        {"the release installed", ManifestOf(archive, work_.path(), "1.0.0"), archive, "이미 최신 버전입니다.", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view_.log.clear();
        view_.rows.clear();
        TArchiveServer server(c.archive, 0, TServing::Whole, TServedFile{c.manifest});
        Controller(server.UpdateUrl()).FormResize();

        EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{c.labDown});
        EXPECT_EQ(server.ArchiveRequests(), c.archiveRequests);
        if (c.labDown == "이미 최신 버전입니다.") {
            EXPECT_EQ(AwaitStartRecord(program_.path()), "Quendal 1.0\n" + fs::current_path().string() + "\n");
            fs::remove(StartRecord(program_.path()));
        }
        EXPECT_EQ(Contents(program_.path()), before);
    }
    // Only the release already installed starts the program.
    EXPECT_EQ(view_.terminationRequests, 1);

    view_.log.clear();
    view_.rows.clear();
    Controller(pageServer.UpdateUrl()).FormResize();
    EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{"Quendal.zip을 다운받았습니다."});
    EXPECT_EQ(AwaitStartRecord(program_.path()), "Quendal 1.1\n" + fs::current_path().string() + "\n");
    EXPECT_EQ(ReadAll(program_ / kUpdateFolder / "state.ini"), "[Release]\nHighestVersion=1.0\n");
}

// With publisher's keys: a signed manifest decides what is fetched and what
// the archive must be, and the installed release is recorded.
class SignedUpdateTest : public UpdateInstallTest {
protected:
    void SetUp() override {
        SKIP_ON_WINDOWS("keys and signatures are made with the openssl tool, which Wine cannot start");
        oldKey_.emplace(work_.path(), "old");
        newKey_.emplace(work_.path(), "new");
        // An updater of a key rotation: it knows the old key and the new one.
        keys_ = oldKey_->PublicKeyPem() + newKey_->PublicKeyPem();
        InstallOldProgram(program_.path());
        archive_ = MakeUpdate(work_.path());
        ASSERT_FALSE(archive_.empty()) << "zip failed";
    }

    std::string SignatureOf(const std::string& bytes, const TOpenSslSigner& key) {
        WriteFile(work_ / "to-sign", bytes);
        key.Sign(work_ / "to-sign", work_ / "to-sign.sig");
        return ReadAll(work_ / "to-sign.sig");
    }

    // One run against a server of the archive, the manifest and its
    // signature; the number of times the archive was asked for.
    int Run(const std::string& archive, const std::string& manifest, const std::string& signature,
            TServing archiveServing = TServing::Whole) {
        view_.log.clear();
        view_.rows.clear();
        TArchiveServer server(archive, 0, archiveServing, TServedFile{manifest}, TServedFile{signature});
        Controller(server.UpdateUrl(), keys_).FormResize();
        return server.ArchiveRequests();
    }

    std::string State() { return ReadAll(program_ / kUpdateFolder / "state.ini"); }

    std::optional<TOpenSslSigner> oldKey_;
    std::optional<TOpenSslSigner> newKey_;
    std::string keys_;
    std::string archive_;
};

// A first install records its release; a later one installs over it; a
// replayed older release, or the same one again, fetches no archive.
TEST_F(SignedUpdateTest, ReleasesGoOnlyForward) {
    const std::string manifest1 = ManifestOf(archive_, work_.path(), "1.0.0");
    const std::string signature1 = SignatureOf(manifest1, *oldKey_);
    const auto updated1 = Updated(Contents(program_.path()), work_.path());
    {
        SCOPED_TRACE("first install, signed with the old key");
        EXPECT_EQ(Run(archive_, manifest1, signature1), 1);
        EXPECT_EQ(AwaitStartRecord(program_.path()), "Quendal 1.1\n" + fs::current_path().string() + "\n");
        fs::remove(StartRecord(program_.path()));
        EXPECT_EQ(Contents(program_.path()), updated1);  // no archive, manifest or signature stays
        EXPECT_EQ(State(), "[Release]\nVersion=1.0.0\nHighestVersion=1.0.0\n");
        EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{"Quendal.zip을 다운받았습니다."});
    }
    // 2.0.0 brings one more file, is signed with the new key and expired half
    // an hour ago: within the clock's tolerance.
    WriteFile(work_ / "update" / "new-in-2.txt", "2.0\n");
    const std::string archive2 = ZipOf(work_ / "update", work_ / "Quendal-2.zip");
    const std::string manifest2 = ManifestOf(archive2, work_.path(), "2.0", -std::chrono::minutes(30));
    const std::string signature2 = SignatureOf(manifest2, *newKey_);
    auto updated2 = updated1;
    updated2["new-in-2.txt"] = {"2.0\n", fs::perms(0644), false};
    {
        SCOPED_TRACE("2.0 signed with the new key");
        EXPECT_EQ(Run(archive2, manifest2, signature2), 1);
        EXPECT_FALSE(AwaitStartRecord(program_.path()).empty());
        fs::remove(StartRecord(program_.path()));
        EXPECT_EQ(Contents(program_.path()), updated2);
        EXPECT_EQ(State(), "[Release]\nVersion=2.0\nHighestVersion=2.0\n");
    }
    {
        SCOPED_TRACE("1.0.0 replayed with its good signature");
        EXPECT_EQ(Run(archive_, manifest1, signature1), 0);
        EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{"설치된 버전보다 오래된 업데이트입니다."});
        EXPECT_EQ(Buttons(), (std::vector<bool>{false, true, true}));
        EXPECT_EQ(Contents(program_.path()), updated2);
        EXPECT_EQ(State(), "[Release]\nVersion=2.0\nHighestVersion=2.0\n");
    }
    const int terminations = view_.terminationRequests;
    {
        SCOPED_TRACE("2.0.0 again: the release installed");
        EXPECT_EQ(Run(archive2, ManifestOf(archive2, work_.path(), "2.0.0"),
                      SignatureOf(ManifestOf(archive2, work_.path(), "2.0.0"), *newKey_)),
                  0);
        EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{"이미 최신 버전입니다."});
        EXPECT_EQ(AwaitStartRecord(program_.path()), "Quendal 1.1\n" + fs::current_path().string() + "\n");
        fs::remove(StartRecord(program_.path()));
        EXPECT_EQ(view_.terminationRequests, terminations + 1);
        EXPECT_EQ(Contents(program_.path()), updated2);
    }
    EXPECT_TRUE(view_.errors.empty());
}

// Nothing of a release whose manifest or archive does not hold reaches the
// program folder, nor stays on the disk; the user may try again or close.
TEST_F(SignedUpdateTest, WhatDoesNotHoldChangesNothing) {
    const std::string manifest = ManifestOf(archive_, work_.path(), "1.1");
    const std::string signature = SignatureOf(manifest, *newKey_);
    std::string tampered = archive_;
    tampered[tampered.size() / 2] ^= 0x20;  // same size, one bit off
    const TOpenSslSigner intruder(work_.path(), "intruder");
    const std::string expired = ManifestOf(archive_, work_.path(), "1.1", -std::chrono::minutes(61));
    const std::string otherProduct = ManifestOf(archive_, work_.path(), "1.1", std::chrono::hours(1), "Other");
    const std::string refused = "업데이트 정보를 확인할 수 없습니다.";
    const std::string archiveRefused = "Quendal.zip의 서명을 확인할 수 없습니다.";
    struct Case {
        const char* name;
        std::string archive;
        std::string manifest;
        std::string signature;
        std::string labDown;
        int archiveRequests;
        bool archiveRead;  // its bytes counted in the window
    };
    const Case cases[] = {
        {"manifest signed by another key", archive_, manifest, SignatureOf(manifest, intruder), refused, 0, false},
        {"manifest changed after signing", archive_, manifest + " ", signature, refused, 0, false},
        {"no signature of the manifest", archive_, manifest, "", refused, 0, false},
        {"another product", archive_, otherProduct, SignatureOf(otherProduct, *newKey_), refused, 0, false},
        {"expired an hour and a minute ago", archive_, expired, SignatureOf(expired, *newKey_),
         "업데이트 정보의 유효 기간이 지났습니다.", 0, false},
        {"archive one bit off its hash", tampered, manifest, signature, archiveRefused, 1, true},
        // Another length is refused before a byte of the body is read.
        {"archive one byte longer", archive_ + "x", manifest, signature, archiveRefused, 1, false},
        {"archive one byte shorter", archive_.substr(1), manifest, signature, archiveRefused, 1, false},
    };
    const auto before = Contents(program_.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Run(c.archive, c.manifest, c.signature), c.archiveRequests);

        EXPECT_EQ(Contents(program_.path()), before);
        EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{c.labDown});
        const auto shown = std::find(view_.log.begin(), view_.log.end(), "labDown=" + c.labDown);
        ASSERT_NE(shown, view_.log.end());
        EXPECT_EQ(*std::next(shown), "repaint labDown");
        EXPECT_TRUE(view_.Captions(C::labUnzip).empty());
        EXPECT_EQ(Buttons(), (std::vector<bool>{false, true, true}));
        EXPECT_FALSE(view_[C::lblBytes].visible);
        EXPECT_EQ(!view_.Captions(C::lblBytes).empty(), c.archiveRead);
        EXPECT_FALSE(fs::exists(program_ / kUpdateFolder / "state.ini"));
    }
    {
        SCOPED_TRACE("archive cut short");
        EXPECT_EQ(Run(archive_, manifest, signature, TServing::CloseEarly), 1);
        EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{"Quendal.zip을 다운받지 못했습니다."});
        EXPECT_EQ(Contents(program_.path()), before);
    }
    EXPECT_EQ(view_.terminationRequests, 0);
    EXPECT_TRUE(view_.errors.empty());
}

}  // namespace
