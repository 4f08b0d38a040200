#include "app/core/update_controller.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

#include "app/core/kbytes_format.h"
#include "archive/unzip.h"
#include "archive_server.h"
#include "download/download_component.h"
#include "fake_updater_view.h"
#include "manifest_maker.h"
#include "platform/file_system.h"
#include "program_folder_files.h"
#include "support/loopback_http_server.h"
#include "support/resumable_file_server.h"
#include "support/temp_folder.h"
#ifndef _WIN32
#include "support/tls_test_server.h"
#endif

namespace fs = std::filesystem;
using C = TUpdaterControl;
using program_folder::ReadAll;

namespace {

constexpr int kMiB = 1024 * 1024;

std::string Pattern(size_t size) {
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

TEST(FormatKBytes, RoundsHalvesUpAndGroupsByThree) {
    struct Case {
        int64_t bytes;
        const char* separator;
        const char* text;
    };
    const Case cases[] = {
        {0, ",", "0"},           {500, ",", "0"},          {511, ",", "0"},
        {512, ",", "1"},         {1536, ",", "2"},         {1023 * 1024 + 511, ",", "1,023"},
        {kMiB, ",", "1,024"},    {kMiB, ".", "1.024"},     {999 * 1024, ",", "999"},
        {int64_t{1234567} * 1024, "\u00a0", "1\u00a0234\u00a0567"},
        {-1536, ",", "-2"},      {-100, ",", "0"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatKBytes(c.bytes, c.separator), c.text) << c.bytes;
}

// The download steps, served a body that is no archive: what arrived is
// kept at the item's end, before the run deletes it.
class UpdateControllerTest : public ::testing::Test {
protected:
    UpdateControllerTest() : server_(Pattern(kMiB)) {}

    TUpdateController& Controller(const std::string& programFolder) {
        controller_ =
            std::make_unique<TUpdateController>(view_, download_, unzip_, server_.UpdateUrl(), programFolder);
        // These tests act at numbered progress events: every one is shown.
        controller_->SetProgressInterval(std::chrono::milliseconds(0));
        controller_->FormCreate();
        auto itemEnd = download_.OnItemDownloadEnd;
        download_.OnItemDownloadEnd = [this, itemEnd](TObject* sender, TDownLoadItem* item) {
            arrived_ = ReadAll(Archive());
            itemEnd(sender, item);
        };
        return *controller_;
    }
    TUpdateController& Controller() { return Controller(folder_.str() + "/"); }

    // Runs `action` once, from the pump of the progress event numbered `event`.
    void AtProgressEvent(int event, std::function<void()> action) {
        view_.onPump = [this, event, action, done = false]() mutable {
            if (!done && view_.progressEvents == event) {
                done = true;
                action();
            }
        };
    }

    fs::path Archive() const { return folder_ / "Quendal.zip"; }

    TempFolder folder_{"quendal-controller"};
    TArchiveServer server_;
    TFakeUpdaterView view_;
    TWinHTTPDownload download_;
    TUnZip unzip_;
    std::unique_ptr<TUpdateController> controller_;
    std::string arrived_;  // the archive as it stood when the item ended
};

// The manifest is asked for first; a server without one (404) gets the
// archive alone, shown as ever.
TEST_F(UpdateControllerTest, FirstResizeQueuesTheManifestAndTheArchiveAndDownloadsThem) {
    TUpdateController& controller = Controller();
    EXPECT_EQ(view_.windowCaption, "Quendal Design 설치하기");
    EXPECT_FALSE(controller.Started());

    controller.FormResize();

    EXPECT_EQ(view_.rows, (std::vector<std::string>{server_.UpdateUrl() + ".manifest", server_.UpdateUrl()}));
    ASSERT_EQ(download_.DownLoadItems().Count(), 2);
    EXPECT_EQ(download_.DownLoadItems().Items(0)->URL(), "http://" + server_.UpdateUrl() + ".manifest");
    EXPECT_EQ(download_.DownLoadItems().Items(1)->URL(), "http://" + server_.UpdateUrl());
    EXPECT_EQ(arrived_, server_.Body());
    EXPECT_TRUE(controller.Started());
    EXPECT_FALSE(controller.RunActive());

    const std::vector<std::string> bytes = view_.Captions(C::lblBytes);
    ASSERT_EQ(bytes.size(), size_t{kMiB / 255 + 1 + 1});  // begin, then one per progress event
    EXPECT_EQ(bytes.front(), "0 / 1,024 KBytes");
    EXPECT_EQ(bytes.back(), "1,024 / 1,024 KBytes");
    EXPECT_EQ(view_[C::pBar].maximum, kMiB);
    EXPECT_EQ(view_[C::pBar].position, kMiB);
    // What arrived is no archive: the run ends at the extraction.
    EXPECT_EQ(view_[C::labDown].caption, "Quendal.zip을 다운받았습니다.");
    EXPECT_EQ(view_[C::Bevel2].bounds, (TControlBounds{0, 257, 428, 2}));

    // Minimising and restoring: the layout again, nothing queued or fetched.
    view_.controls[C::Bevel2].bounds = {12, 257, 352, 2};
    controller.FormResize();
    controller.FormResize();
    EXPECT_EQ(view_.rows.size(), 2u);
    EXPECT_EQ(server_.Requests(), 1);
    EXPECT_EQ(view_[C::Bevel2].bounds, (TControlBounds{0, 257, 428, 2}));
    EXPECT_TRUE(view_.errors.empty());
}

TEST_F(UpdateControllerTest, ResizeDuringTheDownloadKeepsTheRunGoing) {
    TUpdateController& controller = Controller();
    // The transfer and the item's end go on with the item, so it must
    // outlive the resize.
    AtProgressEvent(20, [&] {
        controller.FormResize();
        EXPECT_EQ(download_.DownLoadItems().Count(), 2);
    });

    controller.FormResize();

    EXPECT_EQ(view_.rows.size(), 2u);
    EXPECT_EQ(server_.Requests(), 1);
    EXPECT_EQ(arrived_, server_.Body());
    EXPECT_EQ(view_.Captions(C::lblBytes).back(), "1,024 / 1,024 KBytes");
    EXPECT_EQ(view_[C::labDown].caption, "Quendal.zip을 다운받았습니다.");
}

// Every scenario that leaves the flag file is one story: the file lies beside
// the test program, so tests writing it must not run side by side.
TEST_F(UpdateControllerTest, CancelRestartAndCloseLeaveTheFlagWhenACancelledRunEnds) {
    const fs::path flag = fs::path(platform::ProgramFolder()) / "Vkr.dat";
    fs::remove(flag);
    const auto flagWritten = [&] { return ReadAll(flag).find("[Update]\nWork=False") != std::string::npos ||
                                          ReadAll(flag).find("[Update]\r\nWork=False") != std::string::npos; };
    TUpdateController& controller = Controller();

    {
        SCOPED_TRACE("Cancel during the download");
        AtProgressEvent(10, [&] {
            controller.btnCancelClick();
            EXPECT_EQ(view_[C::labDown].caption, "다운로드가 중지되었습니다");
            EXPECT_EQ(view_.log.back(), "repaint labDown");
            EXPECT_FALSE(fs::exists(flag));
        });
        const auto before = std::chrono::steady_clock::now();
        controller.FormResize();
        const auto elapsed = std::chrono::steady_clock::now() - before;

        // Cancel stops at once, as Close does (the gauge's tenth move is the
        // ninth chunk's: the item's begin sets it too).
        EXPECT_EQ(fs::file_size(Archive()), 9u * 255);
        EXPECT_TRUE(flagWritten());
        const std::vector<std::string> texts = view_.Captions(C::labDown);
        EXPECT_EQ(texts, (std::vector<std::string>{"다운로드가 중지되었습니다", "다운로드가 중지 되었습니다"}));
        EXPECT_GE(elapsed, std::chrono::milliseconds(1000));  // the pause after a cancelled run
        EXPECT_FALSE(view_[C::btnCancel].enabled);
        EXPECT_TRUE(view_[C::btnRedown].enabled);
        EXPECT_TRUE(controller.Started());
        EXPECT_TRUE(controller.Cancelled());
    }
    {
        SCOPED_TRACE("Minimise and restore after the cancel");
        for (int resize = 0; resize < 2; ++resize) {
            fs::remove(flag);
            view_.log.clear();
            controller.FormResize();
            EXPECT_TRUE(flagWritten());
            EXPECT_EQ(view_.Captions(C::labDown), std::vector<std::string>{"다운로드가 중지 되었습니다"});
        }
        EXPECT_EQ(server_.Requests(), 1);
    }
    {
        SCOPED_TRACE("Restart after the cancel");
        fs::remove(flag);
        view_.log.clear();
        AtProgressEvent(view_.progressEvents + 10, [&] {
            EXPECT_TRUE(view_[C::btnCancel].enabled);
            EXPECT_FALSE(view_[C::btnRedown].enabled);
        });
        controller.btnRedownClick();
        EXPECT_EQ(view_.Captions(C::labDown),
                  (std::vector<std::string>{"설치 파일을 다운받고 있습니다", "Quendal.zip을 다운받았습니다."}));
        EXPECT_EQ(arrived_, server_.Body());
        EXPECT_EQ(server_.Requests(), 2);  // the URLs are queued twice but fetched once
        EXPECT_EQ(view_.rows.size(), 4u);
        EXPECT_EQ(download_.DownLoadItems().Count(), 2);
        EXPECT_FALSE(fs::exists(flag));
    }
    {
        SCOPED_TRACE("Cancel while no run is active");
        controller.btnCancelClick();
        EXPECT_EQ(view_[C::labDown].caption, "다운로드가 중지되었습니다");
        EXPECT_FALSE(view_[C::btnCancel].enabled);
        EXPECT_TRUE(view_[C::btnRedown].enabled);
        EXPECT_FALSE(fs::exists(flag));
        controller.FormResize();
        EXPECT_TRUE(flagWritten());
        EXPECT_EQ(view_[C::labDown].caption, "다운로드가 중지 되었습니다");
    }
    {
        SCOPED_TRACE("Restart pressed in the same pump as Cancel waits for the run to end");
        fs::remove(Archive());
        AtProgressEvent(view_.progressEvents + 10, [&] {
            controller.btnCancelClick();
            controller.btnRedownClick();
        });
        controller.btnRedownClick();
        EXPECT_EQ(server_.Requests(), 3);
        EXPECT_EQ(view_[C::labDown].caption, "다운로드가 중지 되었습니다");
        EXPECT_TRUE(view_[C::btnRedown].enabled);
        EXPECT_LT(fs::file_size(Archive()), server_.Body().size());
    }
    {
        SCOPED_TRACE("Close during a download");
        fs::remove(flag);
        fs::remove(Archive());
        bool canClose = false;
        AtProgressEvent(view_.progressEvents + 10, [&] {
            controller.FormCloseQuery(canClose);
            EXPECT_EQ(view_.terminationRequests, 1);
        });
        controller.btnRedownClick();
        EXPECT_TRUE(canClose);
        EXPECT_EQ(view_.terminationRequests, 1);
        EXPECT_EQ(fs::file_size(Archive()), 9u * 255);  // Close stops at once
        EXPECT_TRUE(flagWritten());
        EXPECT_EQ(view_[C::labDown].caption, "다운로드가 중지 되었습니다");
        EXPECT_FALSE(controller.RunActive());
    }
    EXPECT_TRUE(view_.errors.empty());
    fs::remove(flag);
}

TEST_F(UpdateControllerTest, AnIoErrorIsShownAndTheWindowStays) {
    // The download folder's parent is missing, so the archive cannot be created.
    TUpdateController& controller = Controller((folder_ / "missing" / "deeper").string() + "/");

    controller.FormResize();

    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_FALSE(view_.errors.front().empty());
    EXPECT_TRUE(controller.Started());
    EXPECT_FALSE(controller.RunActive());
    // The item ends before the error travels on: the user may try again.
    EXPECT_EQ(view_[C::labDown].caption, "Quendal.zip을 다운받지 못했습니다.");
    EXPECT_TRUE(view_[C::btnRedown].enabled);
    EXPECT_EQ(view_.terminationRequests, 0);

    // The window goes on answering: later resizes start nothing new.
    controller.FormResize();
    EXPECT_EQ(view_.errors.size(), 1u);
    EXPECT_EQ(server_.Requests(), 1);
}

// Without progress events from a stalled server Cancel still ends the
// transfer at once, well before the stall limit; and a signature larger than
// any signature is never written to the disk.
class UpdateControllerServerTest : public ::testing::Test {
protected:
    ~UpdateControllerServerTest() override { fs::remove(fs::path(platform::ProgramFolder()) / "Vkr.dat"); }

    TUpdateController& Controller(const TArchiveServer& server, const std::string& publicKeyPem = {}) {
        controller_ = std::make_unique<TUpdateController>(view_, download_, unzip_, server.UpdateUrl(),
                                                          folder_.str() + "/", publicKeyPem);
        // A stall is seen as pumps without a progress display: every event is shown.
        controller_->SetProgressInterval(std::chrono::milliseconds(0));
        controller_->FormCreate();
        return *controller_;
    }

    TempFolder folder_{"quendal-controller"};
    TFakeUpdaterView view_;
    TWinHTTPDownload download_;
    TUnZip unzip_;
    std::unique_ptr<TUpdateController> controller_;
};

TEST_F(UpdateControllerServerTest, CancelStopsAStalledTransferAtOnce) {
    const TArchiveServer server(Pattern(kMiB), 0, TServing::Stall);
    download_.SetTimeouts({std::chrono::seconds(60), std::chrono::hours(1)});
    TUpdateController& controller = Controller(server);
    // Cancel once three pumps in a row brought no byte; Close as a way out
    // if the run goes on regardless.
    int seenEvents = 0;
    int idlePumps = 0;
    int pumpsAfterCancel = -1;
    view_.onPump = [&] {
        if (!controller.RunActive() || view_.progressEvents == 0) return;
        if (pumpsAfterCancel >= 0) {
            if (++pumpsAfterCancel == 100) controller.btnCloseClick();
            return;
        }
        idlePumps = view_.progressEvents == seenEvents ? idlePumps + 1 : 0;
        seenEvents = view_.progressEvents;
        if (idlePumps == 3) {
            controller.btnCancelClick();
            pumpsAfterCancel = 0;
        }
    };

    controller.FormResize();

    ASSERT_GE(pumpsAfterCancel, 0) << "the transfer never stalled";
    // A pump comes at least every 40 ms while the transfer waits.
    EXPECT_LT(pumpsAfterCancel, 3);
    EXPECT_EQ(view_.terminationRequests, 0);
    EXPECT_EQ(view_.Captions(C::labDown),
              (std::vector<std::string>{"다운로드가 중지되었습니다", "다운로드가 중지 되었습니다"}));
    EXPECT_TRUE(view_[C::btnRedown].enabled);
    EXPECT_FALSE(controller.RunActive());
}

// A manifest or signature larger than any (an error page, or a server
// filling the disk) is refused unread: nothing of it reaches the disk and
// the archive is never asked for.
TEST_F(UpdateControllerServerTest, AnOversizedManifestOrSignatureIsNeverWritten) {
    struct Case {
        const char* name;
        std::string manifest;
        std::string signature;
        const char* file;
    };
    const Case cases[] = {
        {"manifest over 16 MiB", Pattern(16 * kMiB + 1), Pattern(70), "Quendal.zip.manifest"},
        {"signature of 100 KiB", Pattern(1000), Pattern(100 * 1024), "Quendal.zip.manifest.sig"},
    };
    // Each case's server stays until the end, so that no two share a port.
    std::vector<std::unique_ptr<TArchiveServer>> servers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TArchiveServer& server = *servers.emplace_back(std::make_unique<TArchiveServer>(
            Pattern(kMiB), 0, TServing::Whole, TServedFile{c.manifest}, TServedFile{c.signature}));
        TUpdateController& controller = Controller(server, "-----BEGIN PUBLIC KEY-----\n-----END PUBLIC KEY-----\n");
        const fs::path oversized = folder_ / c.file;
        std::vector<bool> onDisk;  // at each item's end
        auto itemEnd = download_.OnItemDownloadEnd;
        download_.OnItemDownloadEnd = [&](TObject* sender, TDownLoadItem* item) {
            onDisk.push_back(fs::exists(oversized));
            itemEnd(sender, item);
        };

        controller.FormResize();

        EXPECT_EQ(onDisk, std::vector<bool>(onDisk.size(), false));
        EXPECT_EQ(view_[C::labDown].caption, "업데이트 정보를 확인할 수 없습니다.");
        EXPECT_EQ(server.ArchiveRequests(), 0);
        EXPECT_TRUE(fs::is_empty(folder_.path()) ||
                    (fs::exists(folder_ / ".quendal-update") && std::distance(fs::directory_iterator(folder_.path()),
                                                                              fs::directory_iterator()) == 1));
    }
}

// A download on a bad network: the archive served by a server that drops
// connections or answers with an error status, the controller retrying.
class RetryControllerTest : public ::testing::Test {
protected:
    ~RetryControllerTest() override { fs::remove(fs::path(platform::ProgramFolder()) / "Vkr.dat"); }

    // Options from the defaults and a change to them.
    template <typename Change>
    static TResumableFileServer::Options Serving(Change change) {
        TResumableFileServer::Options options;
        change(options);
        return options;
    }

    std::string Url() const { return "127.0.0.1:" + std::to_string(server_.Port()) + kPath; }

    // A new window's controller over the same program folder.
    TUpdateController& Controller(TRetryPolicy policy, const std::string& url) {
        // The old view goes first: it takes the message pump with it.
        controller_.reset();
        download_.reset();
        view_.reset();
        view_ = std::make_unique<TFakeUpdaterView>();
        download_ = std::make_unique<TWinHTTPDownload>();
        controller_ = std::make_unique<TUpdateController>(*view_, *download_, unzip_, url, folder_.str() + "/");
        controller_->SetRetryPolicy(policy);
        controller_->FormCreate();
        auto itemEnd = download_->OnItemDownloadEnd;
        download_->OnItemDownloadEnd = [this, itemEnd](TObject* sender, TDownLoadItem* item) {
            arrived_ = ReadAll(folder_ / "Quendal.zip");
            itemEnd(sender, item);
        };
        return *controller_;
    }
    TUpdateController& Controller(TRetryPolicy policy) { return Controller(policy, Url()); }

    static std::string Retrying(int n) { return "연결이 끊어져 다시 시도하고 있습니다 (" + std::to_string(n) + "/5)"; }
    static constexpr const char* kPath = "/HTTP/Quendown/Quendal.zip";
    static constexpr const char* kDownloading = "설치 파일을 다운받고 있습니다";
    static constexpr const char* kDownloaded = "Quendal.zip을 다운받았습니다.";
    static constexpr const char* kNotDownloaded = "Quendal.zip을 다운받지 못했습니다.";
    static constexpr const char* kServerSilent = "Quendal.zip을 다운받지 못했습니다. 서버가 응답하지 않습니다.";
    static TRetryPolicy Fast() { return {5, std::chrono::milliseconds(1), std::chrono::milliseconds(60000), 0.2}; }
    static std::vector<std::string> FiveRetriesThen(const std::string& end) {
        return {Retrying(1), kDownloading, Retrying(2), kDownloading, Retrying(3), kDownloading,
                Retrying(4),  kDownloading, Retrying(5), kDownloading, end};
    }

    const std::string body_ = Pattern(kMiB);
    TempFolder folder_{"quendal-retry"};
    LoopbackHttpServer server_;
    std::unique_ptr<TFakeUpdaterView> view_;
    std::unique_ptr<TWinHTTPDownload> download_;
    TUnZip unzip_;
    std::unique_ptr<TUpdateController> controller_;
    std::string arrived_;  // the archive as it stood when the item ended
};

// Each attempt brings bytes, so the count starts again each time; each
// continues where the last one broke, and the byte counter with it.
TEST_F(RetryControllerTest, RetriesContinueThePartialArchiveUntilItIsWhole) {
    TResumableFileServer file(server_, kPath, body_, Serving([](auto& o) { o.dropEvery = 300000; }));
    TUpdateController& controller = Controller(Fast());

    controller.FormResize();

    EXPECT_EQ(arrived_, body_);
    EXPECT_EQ(file.Ranges(), (std::vector<std::string>{"", "bytes=300000-", "bytes=600000-", "bytes=900000-"}));
    EXPECT_EQ(file.BodyBytesSent(), kMiB);
    EXPECT_EQ(view_->Captions(C::labDown),
              (std::vector<std::string>{Retrying(1), kDownloading, Retrying(1), kDownloading, Retrying(1), kDownloading,
                                        kDownloaded}));
    // Each later attempt's byte counter starts at the bytes held.
    std::vector<std::string> firstCounts;
    for (auto entry = view_->log.begin(); entry != view_->log.end(); ++entry)
        if (*entry == std::string("labDown=") + kDownloading) {
            const auto count = std::find_if(entry, view_->log.end(), [](const std::string& e) { return e.starts_with("lblBytes="); });
            if (count != view_->log.end()) firstCounts.push_back(*count);
        }
    EXPECT_EQ(firstCounts, (std::vector<std::string>{"lblBytes=293 / 1,024 KBytes", "lblBytes=586 / 1,024 KBytes",
                                                     "lblBytes=879 / 1,024 KBytes"}));
    EXPECT_FALSE(fs::exists(folder_ / "Quendal.zip.resume"));
    EXPECT_FALSE(controller.RunActive());
    // However few progress events the window is shown, it shows the end.
    EXPECT_EQ(view_->Captions(C::lblBytes).back(), "1,024 / 1,024 KBytes");
    EXPECT_EQ((*view_)[C::pBar].position, kMiB);
}

// The manifest's bound holds across attempts: an error page is retried, not
// taken for an archive of the wrong length; each attempt continues the
// partial archive, and the whole one has the manifest's length and hash.
TEST_F(RetryControllerTest, RetriesContinueAnArchiveBoundByItsManifest) {
    TResumableFileServer file(server_, kPath, body_, Serving([](auto& o) {
                                  o.statusFirst = {503};
                                  o.dropEvery = 300000;
                              }));
    const std::string manifest = ManifestOf(body_, folder_.path(), "1.0");
    server_.Get(std::string(kPath) + ".manifest",
                [&](HttpExchange& exchange) { exchange.Respond(200, "application/json", manifest); });
    TUpdateController& controller = Controller(Fast());

    controller.FormResize();

    EXPECT_EQ(arrived_, body_);
    EXPECT_EQ(file.Ranges(), (std::vector<std::string>{"", "", "bytes=300000-", "bytes=600000-", "bytes=900000-"}));
    EXPECT_EQ(file.BodyBytesSent(), kMiB);
    EXPECT_EQ(view_->Captions(C::labDown).back(), kDownloaded);
}

// Only what the network may mend is retried, and a 407 has its own text.
TEST_F(RetryControllerTest, ErrorAnswersAreRetriedOnlyWhenTransient) {
    struct Case {
        const char* name;
        std::vector<int> statuses;  // answered before the file
        std::string retryAfter;
        std::vector<std::string> labDown;
        size_t requests;
    };
    const Case cases[] = {
        {"503 twice, Retry-After: 1", {503, 503}, "1", {Retrying(1), kDownloading, Retrying(2), kDownloading, kDownloaded}, 3},
        {"429", {429}, "", {Retrying(1), kDownloading, kDownloaded}, 2},
        {"404 is never retried", {404}, "", {kDownloaded}, 1},
        {"407", {407}, "", {"프록시 인증이 필요합니다."}, 1},
    };
    TResumableFileServer file(server_, kPath, body_, {});
    size_t requestsBefore = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        file.SetOptions(Serving([&](auto& o) {
            o.statusFirst = c.statuses;
            o.retryAfter = c.retryAfter;
        }));
        Controller(Fast()).FormResize();
        EXPECT_EQ(view_->Captions(C::labDown), c.labDown);
        EXPECT_EQ(file.Ranges().size() - requestsBefore, c.requests);
        requestsBefore = file.Ranges().size();
        EXPECT_TRUE((*view_)[C::btnRedown].enabled);
        fs::remove(folder_ / "Quendal.zip");
    }
}

// Without validators every attempt starts over and breaks at the same byte:
// that is no progress, and the retries run out.
TEST_F(RetryControllerTest, BreakingAtTheSameByteEveryTimeEndsAfterFiveRetries) {
    TResumableFileServer file(server_, kPath, body_, Serving([](auto& o) {
        o.dropEvery = 300000;
        o.sendETag = false;
    }));
    Controller(Fast()).FormResize();
    EXPECT_EQ(view_->Captions(C::labDown),
              (std::vector<std::string>{Retrying(1), kDownloading, Retrying(2), kDownloading, Retrying(3), kDownloading,
                                        Retrying(4), kDownloading, Retrying(5), kDownloading, kNotDownloaded}));
    EXPECT_EQ(file.Ranges().size(), 6u);
    EXPECT_FALSE(fs::exists(folder_ / "Quendal.zip"));
}

TEST_F(RetryControllerTest, NothingListeningEndsInTheFailureAfterFiveRetries) {
    Controller(Fast(), "127.0.0.1:1/HTTP/Quendown/Quendal.zip").FormResize();
    EXPECT_EQ(view_->Captions(C::labDown),
              (std::vector<std::string>{Retrying(1), kDownloading, Retrying(2), kDownloading, Retrying(3), kDownloading,
                                        Retrying(4), kDownloading, Retrying(5), kDownloading, kNotDownloaded}));
    EXPECT_EQ((*view_)[C::btnCancel].enabled, false);
    EXPECT_EQ((*view_)[C::btnRedown].enabled, true);
}

// A server that accepts the connection and never answers: each attempt ends
// on the stall limit, and the window says the server does not answer,
// whether the manifest or the archive went silent. The retries end after
// five, or sooner once the attempts took the policy's time.
TEST_F(RetryControllerTest, ASilentServerIsNamedInTheFailure) {
    std::atomic<bool> manifestSilent{true};
    server_.Otherwise([&](HttpExchange& exchange) {
        if (!manifestSilent && exchange.Request().target.ends_with(".manifest"))
            exchange.Respond(404, "text/plain", "");
        else
            exchange.Hold(std::chrono::seconds(10));
    });
    TRetryPolicy timeLimited = Fast();
    timeLimited.giveUpAfter = std::chrono::milliseconds(1);  // spent by the first attempt
    struct Case {
        const char* name;
        bool manifestSilent;
        TRetryPolicy policy;
        std::vector<std::string> labDown;
    };
    const Case cases[] = {
        {"manifest, five retries", true, Fast(), FiveRetriesThen(kServerSilent)},
        {"archive, time limit", false, timeLimited, {kServerSilent}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manifestSilent = c.manifestSilent;
        TUpdateController& controller = Controller(c.policy);
        download_->SetTimeouts({std::chrono::seconds(60), std::chrono::milliseconds(200)});
        controller.FormResize();
        EXPECT_EQ(view_->Captions(C::labDown), c.labDown);
        EXPECT_TRUE((*view_)[C::btnRedown].enabled);
    }
}

// A server that drips the archive below the floor rate: each attempt ends on
// it and continues where the last one ended, but a trickle is no progress,
// so the retries run out and the window says the server does not answer.
TEST_F(RetryControllerTest, ADrippingServerRunsOutOfRetries) {
    TResumableFileServer file(server_, kPath, body_,
                              Serving([](auto& o) { o.dripEvery = std::chrono::milliseconds(20); }));
    TUpdateController& controller = Controller(Fast());
    download_->SetTimeouts({std::chrono::seconds(60), std::chrono::milliseconds(500), 1024,
                            std::chrono::milliseconds(200)});
    view_->onPump = [&] {
        if (file.Ranges().size() > 8) controller.btnCloseClick();  // the way out of a run that would not end
    };
    controller.FormResize();
    EXPECT_EQ(view_->Captions(C::labDown), FiveRetriesThen(kServerSilent));
    const std::vector<std::string> ranges = file.Ranges();
    ASSERT_EQ(ranges.size(), 6u);
    for (size_t n = 1; n < ranges.size(); ++n) EXPECT_TRUE(ranges[n].starts_with("bytes=")) << n;
    EXPECT_TRUE(fs::exists(folder_ / "Quendal.zip.resume"));
}

// The wait before a retry pumps the window: Cancel and Close end it at once,
// as they end a transfer.
TEST_F(RetryControllerTest, CancelAndCloseEndTheWaitAtOnce) {
    TResumableFileServer file(server_, kPath, body_, Serving([](auto& o) { o.statusFirst = {503, 503}; }));
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Cancel");
        TUpdateController& controller =
            Controller({5, std::chrono::hours(1), std::chrono::milliseconds(60000), 0.2});
        int pumpsAfterClick = -1;
        view_->onPump = [&] {
            if (view_->controls[C::labDown].caption != Retrying(1) && pumpsAfterClick < 0) return;
            if (pumpsAfterClick < 0) {
                bool canClose = false;
                close ? controller.FormCloseQuery(canClose) : controller.btnCancelClick();
                pumpsAfterClick = 0;
            } else if (++pumpsAfterClick == 100) {
                controller.btnCloseClick();  // the way out if the wait goes on
            }
        };
        controller.FormResize();

        EXPECT_EQ(pumpsAfterClick, 0);
        EXPECT_EQ(view_->terminationRequests, close ? 1 : 0);
        const std::vector<std::string> expected =
            close ? std::vector<std::string>{Retrying(1), "다운로드가 중지 되었습니다"}
                  : std::vector<std::string>{Retrying(1), "다운로드가 중지되었습니다", "다운로드가 중지 되었습니다"};
        EXPECT_EQ(view_->Captions(C::labDown), expected);
        EXPECT_FALSE(controller.RunActive());
    }
}

// Without retries a broken download keeps its partial archive: a Restart
// continues it, and so does the updater started again later.
TEST_F(RetryControllerTest, RestartAndANewStartContinueThePartialArchive) {
    TResumableFileServer file(server_, kPath, body_, Serving([](auto& o) { o.dropEvery = 400000; }));
    TUpdateController& controller = Controller(TRetryPolicy::None());
    controller.FormResize();
    EXPECT_EQ(view_->Captions(C::labDown), std::vector<std::string>{kNotDownloaded});
    EXPECT_EQ(fs::file_size(folder_ / "Quendal.zip"), 400000u);
    // However few progress events were shown, the item's end is.
    EXPECT_EQ(view_->Captions(C::lblBytes).back(), "391 / 1,024 KBytes");
    EXPECT_EQ((*view_)[C::pBar].position, 400000);

    controller.btnRedownClick();
    EXPECT_EQ(view_->Captions(C::labDown).back(), kNotDownloaded);
    EXPECT_EQ(fs::file_size(folder_ / "Quendal.zip"), 800000u);

    Controller(TRetryPolicy::None()).FormResize();
    EXPECT_EQ(arrived_, body_);
    EXPECT_EQ(view_->Captions(C::labDown), std::vector<std::string>{kDownloaded});
    EXPECT_EQ(file.Ranges(), (std::vector<std::string>{"", "bytes=400000-", "bytes=800000-"}));
    EXPECT_EQ(file.BodyBytesSent(), kMiB);
}

// Linux only: the TLS server runs under python3 (see the download tests).
#ifndef _WIN32
TEST_F(RetryControllerTest, AnUntrustedCertificateIsRefusedWithoutRetry) {
    const TTlsTestServer tls;
    ASSERT_TRUE(tls.Running()) << "the TLS test server did not start (openssl, python3)";
    Controller(Fast(), tls.Url("/file")).FormResize();
    EXPECT_EQ(view_->Captions(C::labDown), std::vector<std::string>{"서버의 인증서를 확인할 수 없습니다."});
    EXPECT_TRUE((*view_)[C::btnRedown].enabled);
}
#endif

TEST(ProgressThrottle, ShowsOneEventPerIntervalAndAlwaysTheLast) {
    auto now = std::chrono::steady_clock::time_point();
    TProgressThrottle throttle(std::chrono::milliseconds(33), [&] { return now; });
    std::vector<int> shown;
    // An event every 10 ms; the one at 95 ms is an item's last.
    for (int t = 0; t <= 90; t += 10) {
        now = std::chrono::steady_clock::time_point(std::chrono::milliseconds(t));
        if (throttle.Due(false)) shown.push_back(t);
    }
    now = std::chrono::steady_clock::time_point(std::chrono::milliseconds(95));
    if (throttle.Due(true)) shown.push_back(95);
    throttle.Restart();  // the next item's first event is shown at once
    if (throttle.Due(false)) shown.push_back(-95);
    EXPECT_EQ(shown, (std::vector<int>{0, 40, 80, 95, -95}));
}

// The extractor reports every block: the gauges follow about 30 times a
// second, always show the archive's end, and catch up when the run ends.
TEST(UpdateControllerGauges, FollowTheExtractionAtMostOnceAnIntervalAndAlwaysAtTheEnd) {
    TFakeUpdaterView view;
    TWinHTTPDownload download;
    TUnZip unzip;
    TUpdateController controller(view, download, unzip, "127.0.0.1:1/Quendal.zip", "/nonexistent/");
    auto now = std::chrono::steady_clock::time_point();
    controller.SetProgressClock([&] { return now; });
    struct Event {
        int ms;
        uint8_t file, archive;
        int gauge1, gauge2;  // what the gauges show after it
    };
    const Event events[] = {
        {0, 10, 5, 10, 5},     {10, 20, 6, 10, 5},   {32, 30, 7, 10, 5},  {40, 40, 8, 40, 8},
        {41, 100, 99, 40, 8},  {42, 100, 100, 100, 100},  // the archive's end is shown at once
    };
    for (const Event& e : events) {
        now = std::chrono::steady_clock::time_point(std::chrono::milliseconds(e.ms));
        controller.UnZip1Progress(nullptr, e.file, e.archive);
        EXPECT_EQ(view[C::Gauge1].position, e.gauge1) << e.ms;
        EXPECT_EQ(view[C::Gauge2].position, e.gauge2) << e.ms;
    }
    // A run that ends without a last event at 100 % still shows where it ended.
    now += std::chrono::milliseconds(5);
    controller.UnZip1Progress(nullptr, 55, 60);
    controller.UnZip1Deactivate(nullptr);
    EXPECT_EQ(view[C::Gauge1].position, 55);
    EXPECT_EQ(view[C::Gauge2].position, 60);
}

TEST(DownloadRetry, DelaysDoubleWithJitterAndHonourRetryAfter) {
    TDownloadRetry retry(TRetryPolicy::Standard());
    for (int n = 1; n <= 5; ++n) {
        const auto delay = retry.Next(false, "");
        ASSERT_TRUE(delay);
        const int64_t base = 1000LL << (n - 1);
        EXPECT_GE(delay->count(), base * 8 / 10) << n;
        EXPECT_LE(delay->count(), base * 12 / 10) << n;
        EXPECT_EQ(retry.Count(), n);
    }
    EXPECT_FALSE(retry.Next(false, ""));
    EXPECT_EQ(retry.Next(true, "7"), std::chrono::milliseconds(7000));  // progress: counted afresh
    EXPECT_EQ(retry.Count(), 1);
    EXPECT_EQ(retry.Next(false, "3600"), std::chrono::milliseconds(60000));
    for (const char* junk : {"-1", "1.5", "Wed, 21 Oct 2015 07:28:00 GMT", " 5", "99999999999"})
        EXPECT_FALSE(TDownloadRetry::ParseRetryAfter(junk)) << junk;
}

// No attempt starts once the attempts without progress took 100 s together:
// a server that never answers (each attempt ends on the 30 s stall limit) or
// drips (each ends on the floor rate after 60 s, as one that cannot be
// reached ends on the 60 s connect limit) gets its final answer within about
// two minutes. Attempts that make progress are retried as ever, and after
// one the time counts afresh.
TEST(DownloadRetry, NoAttemptStartsOnceAttemptsWithoutProgressTookTheLimit) {
    using namespace std::chrono_literals;
    auto now = std::chrono::steady_clock::time_point();
    TDownloadRetry retry(TRetryPolicy::Standard(), [&] { return now; });
    // Runs attempts of `length` until the retry gives up; their number.
    auto attemptsUntilGivenUp = [&](std::chrono::seconds length, bool progress) {
        for (int attempts = 1;; ++attempts) {
            now += length;
            const std::optional<std::chrono::milliseconds> delay = retry.Next(progress, "");
            if (!delay) return attempts;
            now += *delay;
        }
    };
    struct Case {
        const char* name;
        std::chrono::seconds attempt;
        int attempts;
        std::chrono::seconds atLeast, atMost;  // until the final answer
    };
    const Case cases[] = {
        {"never answers", 30s, 4, 120s, 130s},  // 4 attempts and 1 + 2 + 4 s of waits, ± 20 %
        {"drips", 60s, 2, 120s, 122s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        retry.Reset();
        const auto start = now;
        EXPECT_EQ(attemptsUntilGivenUp(c.attempt, false), c.attempts);
        EXPECT_GE(now - start, c.atLeast);
        EXPECT_LE(now - start, c.atMost);
    }

    // A server that breaks off every 30 s but brings bytes each time.
    retry.Reset();
    for (int n = 1; n <= 20; ++n) {
        now += 30s;
        ASSERT_EQ(retry.Next(true, "1"), std::chrono::milliseconds(1000)) << n;
        now += 1s;
    }
    // Then goes silent: it has the whole time again.
    EXPECT_EQ(attemptsUntilGivenUp(30s, false), 4);
    // A retry waiting past its Retry-After does not count as an attempt's time.
    retry.Reset();
    now += 10s;
    ASSERT_EQ(retry.Next(false, "60"), std::chrono::milliseconds(60000));
    now += 60s + 89s;
    const std::optional<std::chrono::milliseconds> delay = retry.Next(false, "");  // 10 + 89 s of attempts
    ASSERT_TRUE(delay);
    now += *delay + 1s;
    EXPECT_FALSE(retry.Next(false, ""));
}

}  // namespace
