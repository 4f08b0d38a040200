#include "download/download_component.h"
#include "download/resume_state.h"
#include "support/loopback_http_server.h"
#include "support/resumable_file_server.h"
#include "support/temp_folder.h"
#include "support/windows_skip.h"

#include "platform/errors.h"
#include "platform/message_pump.h"

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Pattern(size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}


class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override { Attach(); }
    void TearDown() override { platform::SetMessagePump(nullptr); }

    // Logs every event; a test may wrap a handler to act as well.
    void Attach() {
        auto sender = [this](TObject* s) { EXPECT_EQ(s, &download_); };
        download_.OnDownloadBegin = [=, this](TObject* s) { sender(s); events_.push_back("begin"); };
        download_.OnDownloadEnd = [=, this](TObject* s) { sender(s); events_.push_back("end"); };
        download_.OnDownloadStop = [=, this](TObject* s) { sender(s); events_.push_back("stop"); };
        download_.OnItemGetHeader = [=, this](TObject* s, TDownLoadItem* item) {
            sender(s);
            events_.push_back("header " + std::to_string(item->Index()));
        };
        download_.OnItemDownloadBegin = [=, this](TObject* s, TDownLoadItem* item) {
            sender(s);
            events_.push_back("item begin " + std::to_string(item->Index()));
        };
        download_.OnItemDownloadProgress = [=, this](TObject* s, TDownLoadItem* item, int32_t current, int32_t total) {
            sender(s);
            EXPECT_EQ(total, item->FileSize());
            events_.push_back("progress " + std::to_string(current));
        };
        download_.OnItemDownloadEnd = [=, this](TObject* s, TDownLoadItem* item) {
            sender(s);
            events_.push_back("item end " + std::to_string(item->Index()));
        };
    }

    // Progress stays logged; Stop is called from the event where stopHere holds.
    void StopAtProgress(std::function<bool(int32_t current, int32_t total)> stopHere) {
        auto logged = download_.OnItemDownloadProgress;
        download_.OnItemDownloadProgress = [this, logged, stopHere](TObject* sender, TDownLoadItem* item,
                                                                    int32_t current, int32_t total) {
            logged(sender, item, current, total);
            if (stopHere(current, total)) download_.Stop();
        };
    }
    TDownLoadItem* AddItem(const std::string& path) {
        TDownLoadItem* item = download_.DownLoadItems().Add();
        item->SetURL(server_.Url(path));
        item->SetLocalDir(dir_.string());
        return item;
    }

    void Serve(const std::string& path, const std::string& body, const std::string& type = "application/zip",
               int status = 200) {
        server_.Get(path, [=](HttpExchange& exchange) { exchange.Respond(status, type, body); });
    }

    // The events of one item fetched completely: a progress event after each
    // full 255-byte chunk and one after the tail read.
    static std::vector<std::string> CompleteItem(int index, int32_t size) {
        std::vector<std::string> events{"header " + std::to_string(index), "item begin " + std::to_string(index)};
        for (int32_t stored = 255; stored <= size; stored += 255) events.push_back("progress " + std::to_string(stored));
        events.push_back("progress " + std::to_string(size));
        events.push_back("item end " + std::to_string(index));
        return events;
    }

    static std::vector<std::string> Run(std::vector<std::string> middle) {
        middle.insert(middle.begin(), "begin");
        middle.push_back("end");
        return middle;
    }

    LoopbackHttpServer server_;
    TWinHTTPDownload download_;
    std::vector<std::string> events_;
    TempFolder folder_{"quendal-download"};
    fs::path dir_ = folder_.path();
};

class BodySizeTest : public DownloadTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(BodySizeTest, StoresTheBodyWithAProgressEventPerChunkAndOneAfterTheTail) {
    const std::string body = Pattern(GetParam());
    Serve("/Quendal.zip", body, "application/x-zip-compressed");
    TDownLoadItem* item = AddItem("/Quendal.zip");

    download_.Start();

    EXPECT_EQ(ReadAll(dir_ / "Quendal.zip"), body);
    EXPECT_EQ(item->FileSize(), static_cast<int32_t>(body.size()));
    EXPECT_EQ(item->ContentType(), "application/x-zip-compressed");
    EXPECT_EQ(events_, Run(CompleteItem(0, static_cast<int32_t>(body.size()))));
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::None);
}

// 1 MiB; a body that is no multiple of 255 nor of any buffer size and long
// enough to fill the reader's and the file's buffers many times, the last of
// each part full; exactly four chunks (the tail read asks for 0 bytes); less
// than one chunk.
INSTANTIATE_TEST_SUITE_P(Sizes, BodySizeTest,
                         ::testing::Values(size_t{1} << 20, (size_t{3} << 20) + 12345, size_t{255 * 4}, size_t{100},
                                           size_t{1}));

TEST_F(DownloadTest, ExactMultipleOfTheChunkEndsWithAnEmptyTailReadEvent) {
    Serve("/four", Pattern(1020));
    AddItem("/four");
    download_.Start();
    EXPECT_EQ(events_, (std::vector<std::string>{"begin", "header 0", "item begin 0", "progress 255", "progress 510",
                                                 "progress 765", "progress 1020", "progress 1020", "item end 0",
                                                 "end"}));
}

TEST_F(DownloadTest, SendsTheAgentAndAsksCachesNotToAnswer) {
    HttpRequest seen;
    server_.Get("/f", [&](HttpExchange& exchange) {
        seen = exchange.Request();
        exchange.Respond(200, "text/plain", "x");
    });
    AddItem("/f");
    download_.SetAgent("QuendalTest/2");
    download_.Start();
    auto header = [&](const std::string& name) { return seen.Header(name).value_or("(none)"); };
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.target, "/f");
    EXPECT_EQ(header("User-Agent"), "QuendalTest/2");
    // WinINet's reload flag bypasses its own cache and adds no header; the
    // libcurl transfer asks the caches on the way instead.
    if (kWindowsBuild) return;
    EXPECT_EQ(header("Cache-Control"), "no-cache");
    EXPECT_EQ(header("Pragma"), "no-cache");
}

TEST_F(DownloadTest, DefaultsOfANewComponent) {
    TWinHTTPDownload fresh;
    EXPECT_EQ(fresh.Version(), "v1.0");
    EXPECT_EQ(fresh.Agent(), "TWinHTTPDownload");
    EXPECT_EQ(fresh.ErrorMsg(), "");
    EXPECT_EQ(fresh.DownLoadItems().Count(), 0);
    EXPECT_FALSE(fresh.OnDownloadBegin || fresh.OnItemDownloadProgress || fresh.OnDownloadStop);
}

TEST_F(DownloadTest, StoresTheBodyOfAnErrorStatus) {
    Serve("/missing.zip", "<html>not here</html>", "text/html", 404);
    TDownLoadItem* item = AddItem("/missing.zip");
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "missing.zip"), "<html>not here</html>");
    EXPECT_EQ(item->ContentType(), "text/html");
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::Status);
    EXPECT_EQ(item->FailureName(), "status 404");
}

TEST_F(DownloadTest, FollowsARedirectAndKeepsTheNameOfTheGivenUrl) {
    const std::string body = Pattern(700);
    Serve("/new/archive.bin", body);
    server_.Get("/Quendal.zip", [](HttpExchange& exchange) { exchange.Redirect("/new/archive.bin"); });
    AddItem("/Quendal.zip");
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "Quendal.zip"), body);
    EXPECT_FALSE(fs::exists(dir_ / "archive.bin"));
    EXPECT_EQ(events_, Run(CompleteItem(0, 700)));
}

// Responses without a usable size end the item quietly: no file, no error text.
struct UnsizedCase {
    const char* name;
    std::string answer;  // status line to body
};
void PrintTo(const UnsizedCase& c, std::ostream* out) { *out << c.name; }

class UnsizedTest : public DownloadTest, public ::testing::WithParamInterface<UnsizedCase> {};

TEST_P(UnsizedTest, EndsTheItemWithoutFileOrErrorText) {
    server_.Get("/file.bin", SendExactly(GetParam().answer));
    TDownLoadItem* item = AddItem("/file.bin");
    item->SetFileSize(77);
    download_.Start();
    EXPECT_FALSE(fs::exists(dir_ / "file.bin"));
    EXPECT_EQ(item->FileSize(), 0);
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(events_, (std::vector<std::string>{"begin", "item end 0", "end"}));
}

INSTANTIATE_TEST_SUITE_P(
    Responses, UnsizedTest,
    ::testing::Values(
        UnsizedCase{"Chunked", HttpHead(200, {{"Content-Type", "text/plain"}, {"Transfer-Encoding", "chunked"}}) +
                                   ChunkedBody({"hello"})},
        UnsizedCase{"Empty", HttpHead(200, {{"Content-Length", "0"}, {"Content-Type", "text/plain"}})},
        UnsizedCase{"Negative", HttpHead(200, {{"Content-Length", "-5"}})},
        UnsizedCase{"Beyond32Bits", HttpHead(200, {{"Content-Length", "3000000000"}})},
        UnsizedCase{"NotANumber", HttpHead(200, {{"Content-Length", "12abc"}})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, HeaderLongerThanTheQueryBufferReadsAsEmpty) {
    Serve("/a", "abc", std::string(259, 't'));
    Serve("/b", "abc", std::string(260, 't'));
    TDownLoadItem* fits = AddItem("/a");
    TDownLoadItem* tooLong = AddItem("/b");
    download_.Start();
    EXPECT_EQ(fits->ContentType(), std::string(259, 't'));
    EXPECT_EQ(tooLong->ContentType(), "");
    EXPECT_EQ(ReadAll(dir_ / "b"), "abc");
}

TEST_F(DownloadTest, SizeClearedByTheHeaderHandlerIsAnError) {
    Serve("/f.zip", Pattern(300));
    TDownLoadItem* item = AddItem("/f.zip");
    auto logged = download_.OnItemGetHeader;
    download_.OnItemGetHeader = [&, logged](TObject* sender, TDownLoadItem* changed) {
        logged(sender, changed);
        changed->SetFileSize(0);
    };
    download_.Start();
    EXPECT_EQ(download_.ErrorMsg(), "(" + item->URL() + ") 파일 크기가 0입니다.");
    EXPECT_FALSE(fs::exists(dir_ / "f.zip"));
    EXPECT_EQ(events_, (std::vector<std::string>{"begin", "header 0", "item end 0", "end"}));
}

TEST_F(DownloadTest, EmptyCollectionReportsAndEnds) {
    download_.Start();
    EXPECT_EQ(download_.ErrorMsg(), "아이템을 찾을 수 없습니다");
    EXPECT_EQ(events_, (std::vector<std::string>{"begin", "end"}));
}

TEST_F(DownloadTest, UnopenableFirstUrlDoesNotStopTheSecond) {
    const std::string body = Pattern(400);
    Serve("/second.zip", body);
    TDownLoadItem* first = download_.DownLoadItems().Add();
    first->SetURL("127.0.0.1:1/first.zip");  // nothing listens on port 1
    first->SetLocalDir(dir_.string());
    first->SetFileSize(12);
    AddItem("/second.zip");

    download_.Start();

    EXPECT_EQ(download_.ErrorMsg(), "다음을 열 수 없습니다 [http://127.0.0.1:1/first.zip]");
    EXPECT_EQ(first->FileSize(), 12);
    EXPECT_EQ(ReadAll(dir_ / "second.zip"), body);
    std::vector<std::string> expected{"item end 0"};
    for (const std::string& event : CompleteItem(1, 400)) expected.push_back(event);
    EXPECT_EQ(events_, Run(expected));
}

TEST_F(DownloadTest, StopInItemBeginLeavesAnEmptyFileAndSkipsTheRest) {
    Serve("/a.zip", Pattern(1000));
    Serve("/b.zip", Pattern(1000));
    AddItem("/a.zip");
    AddItem("/b.zip");
    auto logged = download_.OnItemDownloadBegin;
    download_.OnItemDownloadBegin = [&, logged](TObject* sender, TDownLoadItem* item) {
        logged(sender, item);
        download_.Stop();
    };
    download_.Start();
    ASSERT_TRUE(fs::exists(dir_ / "a.zip"));
    EXPECT_EQ(fs::file_size(dir_ / "a.zip"), 0u);
    EXPECT_FALSE(fs::exists(dir_ / "b.zip"));
    EXPECT_EQ(events_, Run({"header 0", "item begin 0", "item end 0", "stop"}));
}

TEST_F(DownloadTest, StopInAProgressEventKeepsWhatWasStored) {
    const std::string body = Pattern(1000);
    Serve("/a.zip", body);
    AddItem("/a.zip");
    StopAtProgress([](int32_t current, int32_t) { return current == 510; });
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "a.zip"), body.substr(0, 510));
    EXPECT_EQ(events_, Run({"header 0", "item begin 0", "progress 255", "progress 510", "item end 0", "stop"}));
}

TEST_F(DownloadTest, StopInTheLastProgressEventCompletesTheItem) {
    const std::string body = Pattern(600);
    Serve("/a.zip", body);
    AddItem("/a.zip");
    StopAtProgress([](int32_t current, int32_t total) { return current == total; });
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "a.zip"), body);
    std::vector<std::string> expected = CompleteItem(0, 600);
    expected.push_back("stop");
    EXPECT_EQ(events_, Run(expected));
}

TEST_F(DownloadTest, StopWhileIdleIsForgottenByTheNextStart) {
    Serve("/a.zip", Pattern(300));
    AddItem("/a.zip");
    download_.Stop();
    download_.Start();
    EXPECT_EQ(events_, Run(CompleteItem(0, 300)));
}

TEST_F(DownloadTest, FolderWithMissingParentRaisesAfterTheItemEnds) {
    Serve("/a.zip", Pattern(300));
    Serve("/b.zip", Pattern(300));
    AddItem("/a.zip")->SetLocalDir((dir_ / "missing" / "sub").string());
    AddItem("/b.zip");
    try {
        download_.Start();
        FAIL() << "Start returned";
    } catch (const EInOutError& error) {
        const int pathNotFound = kWindowsBuild ? 3 /* ERROR_PATH_NOT_FOUND */ : ENOENT;
        EXPECT_EQ(error.ErrorCode(), pathNotFound);
        EXPECT_EQ(error.what(), platform::ErrorText(pathNotFound));
    }
    EXPECT_EQ(events_, (std::vector<std::string>{"begin", "header 0", "item begin 0", "item end 0"}));
    EXPECT_FALSE(fs::exists(dir_ / "b.zip"));
}

TEST_F(DownloadTest, CreatesAMissingLastFolderLevel) {
    Serve("/a.zip", "abc");
    AddItem("/a.zip")->SetLocalDir((dir_ / "new").string());
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "new" / "a.zip"), "abc");
}

// Bytes are written in batches: a refused write shows during the body when it
// is long, or when the file is closed when it is short; either way before the
// item's end event, and the run goes no further.
class WriteFailureTest : public DownloadTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(WriteFailureTest, RaisesAfterTheItemEnds) {
    SKIP_ON_WINDOWS("needs a device that refuses every write, as /dev/full does; Windows has none");
    Serve("/full", Pattern(GetParam()));
    Serve("/b.zip", Pattern(300));
    AddItem("/full")->SetLocalDir("/dev");  // every write to /dev/full fails
    AddItem("/b.zip");
    ASSERT_TRUE(fs::exists("/dev/full"));
    try {
        download_.Start();
        FAIL() << "Start returned";
    } catch (const EInOutError& error) {
        EXPECT_EQ(error.ErrorCode(), ENOSPC);
    }
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_.back(), "item end 0");
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "end"), 0);
    EXPECT_FALSE(fs::exists(dir_ / "b.zip"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriteFailureTest, ::testing::Values(size_t{300}, size_t{1} << 20));

// A body that ends before its announced size keeps what arrived, without an
// error text. libcurl reports the early end as a failed read; WinINet reads
// it as the end of the body, so there the tail read reports the count again.
TEST_F(DownloadTest, ConnectionClosedEarlyKeepsThePartialFile) {
    const std::string sent = Pattern(300);
    server_.Get("/cut.zip", SendExactly(HttpHead(200, {{"Content-Length", "1000"}}) + sent));
    TDownLoadItem* item = AddItem("/cut.zip");
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "cut.zip"), sent);
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::CutShort);
    std::vector<std::string> expected{"header 0", "item begin 0", "progress 255", "progress 300"};
    if (kWindowsBuild) expected.push_back("progress 300");
    expected.push_back("item end 0");
    EXPECT_EQ(events_, Run(expected));
}

TEST_F(DownloadTest, BodyEndingCleanlyBeforeItsAnnouncedSizeEndsTheChunks) {
    server_.Get("/short.zip", SendExactly(HttpHead(200, {{"Content-Length", "2147483647"},  // ignored for a chunked body
                                                          {"Transfer-Encoding", "chunked"}}) +
                                          ChunkedBody({"hello"})));
    AddItem("/short.zip");
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "short.zip"), "hello");
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(events_, Run({"header 0", "item begin 0", "progress 5", "progress 5", "item end 0"}));
}

TEST_F(DownloadTest, StalledBodyEndsTheReadAfterTheStallLimit) {
    const std::string sent = Pattern(300);
    server_.Get("/slow.zip", [sent](HttpExchange& exchange) {
        exchange.Send(HttpHead(200, {{"Content-Length", "1000"}}) + sent);
        // Without a stall limit the client would wait for, and store, the rest.
        exchange.Hold(5s);
        exchange.Send(std::string(700, 'r'));
    });
    TDownLoadItem* item = AddItem("/slow.zip");
    download_.SetTimeouts({60s, 300ms});
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "slow.zip"), sent);
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(events_, Run({"header 0", "item begin 0", "progress 255", "progress 300", "item end 0"}));
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::TimedOut);
}

// A server that drips its body: `bytes` every `every`, the whole answer
// 1000 bytes (a range of a larger file when `ranged`), until the client goes.
HttpHandler Dripping(size_t bytes, std::chrono::milliseconds every, bool ranged) {
    return [=](HttpExchange& exchange) {
        const std::string head = ranged ? HttpHead(206, {{"Content-Length", "1000"},
                                                         {"Content-Range", "bytes 0-999/5000"}})
                                        : HttpHead(200, {{"Content-Length", "1000"}});
        if (!exchange.Send(head)) return;
        const std::string body = Pattern(1000);
        for (size_t sent = 0; sent < body.size(); sent += bytes) {
            exchange.Hold(every);
            if (!exchange.Send(body.substr(sent, bytes))) return;
        }
    };
}

// A byte every 10 ms keeps clear of the stall limit for ever, and each wait
// for a byte ends early; below the floor rate (here 1 KiB/s over each 500 ms
// of waiting) the read ends all the same, keeping what arrived, without an
// error text, as a stalled one does.
class DrippingBodyTest : public DownloadTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DrippingBodyTest, EndsTheReadBelowTheFloorRate) {
    const bool ranged = GetParam();
    server_.Get("/drip.zip", Dripping(1, 10ms, ranged));
    TDownLoadItem* item = AddItem("/drip.zip");
    if (ranged) item->SetByteRange(TDownLoadItem::TByteRange{0, 999});
    download_.SetTimeouts({60s, 2s, 1024, 500ms});
    const auto start = std::chrono::steady_clock::now();
    download_.Start();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 3s);  // the whole body would take 10 s
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::TooSlow);
    EXPECT_EQ(item->FailureName(), "too slow");
    EXPECT_EQ(download_.ErrorMsg(), "");
    const std::string stored = ReadAll(dir_ / "drip.zip");
    EXPECT_GT(stored.size(), 0u);
    EXPECT_LT(stored.size(), 300u);
    EXPECT_EQ(stored, Pattern(1000).substr(0, stored.size()));
    EXPECT_EQ(events_.back(), "end");
    EXPECT_EQ(events_[events_.size() - 2], "item end 0");
}

INSTANTIATE_TEST_SUITE_P(Answers, DrippingBodyTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Ranged" : "Whole"); });

// Slow but above the floor rate: 100 bytes every 20 ms against 1 KiB/s over
// each 200 ms of waiting. The floor never cuts such a transfer short.
TEST_F(DownloadTest, BodyAboveTheFloorRateArrivesWhole) {
    server_.Get("/steady.zip", Dripping(100, 20ms, false));
    TDownLoadItem* item = AddItem("/steady.zip");
    download_.SetTimeouts({60s, 2s, 1024, 200ms});
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "steady.zip"), Pattern(1000));
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::None);
}

// URLs whose final response never arrives: the item ends with the error text,
// says why, and nothing is stored.
struct UnopenableCase {
    const char* name;
    std::function<std::string(LoopbackHttpServer&)> prepare;  // returns the URL
    TDownLoadItem::TFailure failure = TDownLoadItem::TFailure::Refused;
};
void PrintTo(const UnopenableCase& c, std::ostream* out) { *out << c.name; }

class UnopenableTest : public DownloadTest, public ::testing::WithParamInterface<UnopenableCase> {};

TEST_P(UnopenableTest, EndsTheItemWithTheErrorText) {
    const std::string url = GetParam().prepare(server_);
    TDownLoadItem* item = AddItem("/unused");
    item->SetURL(url);
    download_.SetTimeouts({60s, 300ms});
    const auto start = std::chrono::steady_clock::now();
    download_.Start();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(download_.ErrorMsg(), "다음을 열 수 없습니다 [" + url + "]");
    EXPECT_TRUE(fs::is_empty(dir_));
    EXPECT_EQ(events_, Run({"item end 0"}));
    EXPECT_EQ(item->Failure(), GetParam().failure);
    // The stall limit counts from the connection being made: no byte of an
    // answer for that long ends the open (WinINet's own wait included).
    if (GetParam().failure == TDownLoadItem::TFailure::TimedOut) {
        EXPECT_GE(took, 300ms);
        EXPECT_LT(took, 2s);
    }
}

void Redirect(LoopbackHttpServer& server, const std::string& from, const std::string& to) {
    server.Get(from, [to](HttpExchange& exchange) { exchange.Redirect(to); });
}

INSTANTIATE_TEST_SUITE_P(
    Urls, UnopenableTest,
    ::testing::Values(
        UnopenableCase{"RefusedConnection",  // nothing listens on port 1
                       [](LoopbackHttpServer&) { return std::string("http://127.0.0.1:1/x.zip"); }},
        UnopenableCase{"NotHttp", [](LoopbackHttpServer&) { return std::string("file:///etc/hostname"); }},
        UnopenableCase{"Ftp",
                       [](LoopbackHttpServer& server) {
                           return "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x.zip";
                       }},
        UnopenableCase{"RedirectToNotHttp",
                       [](LoopbackHttpServer& server) {
                           Redirect(server, "/r.zip", "file:///etc/hostname");
                           return server.Url("/r.zip");
                       }},
        UnopenableCase{"RedirectLoop",
                       [](LoopbackHttpServer& server) {
                           Redirect(server, "/loop.zip", "/loop.zip");
                           return server.Url("/loop.zip");
                       }},
        UnopenableCase{"NeverAnswers",  // the stall limit ends the wait for the headers
                       [](LoopbackHttpServer& server) {
                           server.Get("/silent.zip", [](HttpExchange& exchange) {
                               exchange.Hold(5s);
                               exchange.Respond(200, "text/plain", "late");
                           });
                           return server.Url("/silent.zip");
                       },
                       TDownLoadItem::TFailure::TimedOut}),
    [](const auto& info) { return std::string(info.param.name); });

// Responses only a hand-written server sends, each the whole answer on the wire.
struct RawCase {
    const char* name;
    std::string answer;
    std::string storedOnWindows;  // the body WinINet takes the answer for
};

void PrintTo(const RawCase& raw, std::ostream* out) { *out << raw.name; }

std::string Answer(const std::string& statusAndHeaders, const std::string& body) {
    return statusAndHeaders + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A redirect that names no target is the final response: its body is stored
// at once, however long (a body longer than the transfer buffer used to hold
// the open until the stall limit).
class RedirectWithoutTargetTest : public DownloadTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(RedirectWithoutTargetTest, StoresTheBody) {
    const std::string body = Pattern(GetParam());
    server_.Get("/r.zip", SendExactly(Answer("HTTP/1.1 302 Found\r\nLocation: \r\n", body)));
    AddItem("/r.zip");
    download_.SetTimeouts({60s, 2s});
    download_.Start();
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(ReadAll(dir_ / "r.zip"), body);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RedirectWithoutTargetTest, ::testing::Values(size_t{100}, size_t{200 * 1024}));

// A transfer error while the headers arrive fails the open: error text, no file.
class RefusedOpenTest : public DownloadTest, public ::testing::WithParamInterface<RawCase> {};

TEST_P(RefusedOpenTest, EndsTheItemWithTheErrorTextAndNoFile) {
    server_.Get("/x.zip", SendExactly(GetParam().answer));
    TDownLoadItem* item = AddItem("/x.zip");
    download_.Start();
    if (kWindowsBuild) {
        // WinINet sets no limit of its own on the headers of an answer and
        // answers a header query with the first of two lines: there each of
        // these is an ordinary response, and its body is stored.
        EXPECT_EQ(download_.ErrorMsg(), "");
        EXPECT_EQ(ReadAll(dir_ / "x.zip"), GetParam().storedOnWindows);
        return;
    }
    EXPECT_EQ(download_.ErrorMsg(), "다음을 열 수 없습니다 [" + item->URL() + "]");
    EXPECT_TRUE(fs::is_empty(dir_));
    EXPECT_EQ(events_, Run({"item end 0"}));
}

std::string InterimResponses(size_t bytes) {
    std::string answer;
    while (answer.size() < bytes) answer += "HTTP/1.1 100 Continue\r\n\r\n";
    return answer;
}

std::string FillerHeaders(size_t bytes) {
    std::string headers;
    for (int i = 0; headers.size() < bytes; ++i) headers += "X-Filler-" + std::to_string(i) + ": " + std::string(100, 'f') + "\r\n";
    return headers;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedOpenTest,
    ::testing::Values(
        // libcurl refuses the second length after taking the first.
        RawCase{"LineRefusedAfterTheLength",
                "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nContent-Length: -1\r\n\r\n0123456789", "0123456789"},
        RawCase{"EndlessHeaders", Answer("HTTP/1.1 200 OK\r\n" + FillerHeaders(150 * 1024), "x"), "x"},
        // Each interim response is small; all of them together pass the header limit.
        RawCase{"EndlessInterimResponses", InterimResponses(150 * 1024) + Answer("HTTP/1.1 200 OK\r\n", "hello"),
                "hello"}),
    [](const auto& info) { return std::string(info.param.name); });

// While the network keeps it waiting, the component pumps the caller's
// messages; a stop asked for from there ends the wait at once.
TEST_F(DownloadTest, StopWhileTheBodyStallsKeepsWhatWasStored) {
    const std::string sent = Pattern(300);
    server_.Get("/slow.zip", [sent](HttpExchange& exchange) {
        exchange.Send(HttpHead(200, {{"Content-Length", "1000"}}) + sent);
        exchange.Hold(10s);
    });
    TDownLoadItem* item = AddItem("/slow.zip");
    download_.SetTimeouts({60s, 10s});
    platform::SetMessagePump([this] {
        // The second read has the last 45 bytes and waits for more.
        if (!events_.empty() && events_.back() == "progress 255") download_.Stop();
    });
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "slow.zip"), sent);
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(events_, Run({"header 0", "item begin 0", "progress 255", "progress 300", "item end 0", "stop"}));
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::Stopped);
}

TEST_F(DownloadTest, StopWhileWaitingForTheHeadersEndsTheRunWithoutErrorText) {
    server_.Get("/silent.zip", [](HttpExchange& exchange) {
        exchange.Hold(10s);
        exchange.Respond(200, "text/plain", "late");
    });
    TDownLoadItem* item = AddItem("/silent.zip");
    download_.SetTimeouts({60s, 10s});
    int pumps = 0;
    platform::SetMessagePump([&] {
        if (++pumps == 3) download_.Stop();
    });
    download_.Start();
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_TRUE(fs::is_empty(dir_));
    EXPECT_EQ(events_, Run({"item end 0", "stop"}));
    EXPECT_EQ(item->Failure(), TDownLoadItem::TFailure::Stopped);
}

}  // namespace

namespace {

// Continuing a broken transfer: what the server does between attempts, and
// what must come of it. Attempts go on until the file is whole.
struct ResumeCase {
    const char* name;
    TResumableFileServer::Options first;  // for the first attempt
    TResumableFileServer::Options later;  // from the second on
    enum class Change { None, NewFile, ShorterUnderTheSameETag } change;
    std::vector<std::string> ranges;  // the Range header of each request
    int64_t bodyBytesSent;            // -1: not fixed (a refused answer is cut off at some point)
};
void PrintTo(const ResumeCase& c, std::ostream* out) { *out << c.name; }

constexpr size_t kResumeFileSize = 100000;
constexpr size_t kDropAfter = 40000;
// Options from the defaults and a change to them.
template <typename Change>
TResumableFileServer::Options Serving(Change change) {
    TResumableFileServer::Options options;
    change(options);
    return options;
}
const TResumableFileServer::Options kDropping = Serving([](auto& o) { o.dropEvery = kDropAfter; });

class ResumeTest : public DownloadTest, public ::testing::WithParamInterface<ResumeCase> {
protected:
    fs::path File() const { return dir_ / "Quendal.zip"; }
    fs::path SideFile() const { return dir_ / "Quendal.zip.resume"; }
};

TEST_P(ResumeTest, EndsWithTheServersFileAskingOnlyForWhatIsMissing) {
    const ResumeCase& c = GetParam();
    TResumableFileServer file(server_, "/Quendal.zip", Pattern(kResumeFileSize), c.first);
    std::string expected = Pattern(kResumeFileSize);
    AddItem("/Quendal.zip");
    download_.SetResumePartialFiles(true);

    download_.Start();
    EXPECT_EQ(ReadAll(File()), expected.substr(0, kDropAfter));
    EXPECT_EQ(fs::exists(SideFile()), c.first.sendETag);
    file.SetOptions(c.later);
    if (c.change == ResumeCase::Change::NewFile) file.ChangeBody(expected = Pattern(90000));
    if (c.change == ResumeCase::Change::ShorterUnderTheSameETag) file.ChangeBody(expected = Pattern(30000), false);
    for (int attempt = 2; attempt <= 5 && ReadAll(File()) != expected; ++attempt) download_.Start();

    EXPECT_EQ(ReadAll(File()), expected);
    EXPECT_FALSE(fs::exists(SideFile()));
    EXPECT_EQ(file.Ranges(), c.ranges);
    if (c.bodyBytesSent >= 0) {
        EXPECT_EQ(file.BodyBytesSent(), c.bodyBytesSent);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ResumeTest,
    ::testing::Values(
        ResumeCase{"DropsEvery40000Bytes", kDropping, kDropping, ResumeCase::Change::None,
                   {"", "bytes=40000-", "bytes=80000-"}, 100000},
        ResumeCase{"FileChangedBetweenAttempts", kDropping, TResumableFileServer::Options(), ResumeCase::Change::NewFile,
                   {"", "bytes=40000-"}, 40000 + 90000},
        ResumeCase{"IgnoresRange", kDropping, Serving([](auto& o) { o.ignoreRange = true; }), ResumeCase::Change::None,
                   {"", "bytes=40000-"}, 40000 + 100000},
        ResumeCase{"WrongContentRange", kDropping, Serving([](auto& o) { o.wrongContentRange = true; }), ResumeCase::Change::None,
                   {"", "bytes=40000-", ""}, -1},
        ResumeCase{"NoValidator", Serving([](auto& o) { o.dropEvery = kDropAfter, o.sendETag = false; }),
                   Serving([](auto& o) { o.sendETag = false; }),
                   ResumeCase::Change::None, {"", ""}, 40000 + 100000},
        ResumeCase{"PartialLongerThanTheFile", kDropping, TResumableFileServer::Options(),
                   ResumeCase::Change::ShorterUnderTheSameETag,
                   {"", "bytes=40000-", ""}, 40000 + 30000}),
    [](const auto& info) { return std::string(info.param.name); });

// An error answer to the request for the rest leaves the partial file and its
// note as they were and tells the caller the status; the next attempt
// continues, counting its progress from the bytes held.
struct ErrorStatusCase {
    const char* name;
    int status;
};
void PrintTo(const ErrorStatusCase& c, std::ostream* out) { *out << c.name; }

class ResumeErrorTest : public DownloadTest, public ::testing::WithParamInterface<ErrorStatusCase> {
protected:
    fs::path File() const { return dir_ / "Quendal.zip"; }
    fs::path SideFile() const { return dir_ / "Quendal.zip.resume"; }
};

TEST_P(ResumeErrorTest, KeepsThePartialFileForTheNextAttempt) {
    const int status = GetParam().status;
    TResumableFileServer file(server_, "/Quendal.zip", Pattern(kResumeFileSize), kDropping);
    TDownLoadItem* item = AddItem("/Quendal.zip");
    download_.SetResumePartialFiles(true);
    download_.Start();
    const std::string sideFile = ReadAll(SideFile());

    file.SetOptions(Serving([status](auto& o) {
        o.statusFirst = {status};
        o.retryAfter = "1";
    }));
    download_.Start();
    EXPECT_EQ(item->StatusCode(), status);
    EXPECT_EQ(item->RetryAfter(), "1");
    EXPECT_EQ(ReadAll(File()), Pattern(kResumeFileSize).substr(0, kDropAfter));
    EXPECT_EQ(ReadAll(SideFile()), sideFile);

    events_.clear();
    download_.Start();
    EXPECT_EQ(ReadAll(File()), Pattern(kResumeFileSize));
    EXPECT_EQ(item->StatusCode(), 206);
    EXPECT_EQ(item->ResumedFrom(), 40000);
    EXPECT_EQ(item->FileSize(), 100000);
    ASSERT_GE(events_.size(), 5u);
    EXPECT_EQ(events_[3], "progress 40255");
    EXPECT_EQ(events_[events_.size() - 3], "progress 100000");
    EXPECT_EQ(file.Ranges(), (std::vector<std::string>{"", "bytes=40000-", "bytes=40000-"}));
}

INSTANTIATE_TEST_SUITE_P(Statuses, ResumeErrorTest,
                         ::testing::Values(ErrorStatusCase{"ServiceUnavailable", 503},
                                           ErrorStatusCase{"NotFound", 404},
                                           ErrorStatusCase{"ProxyAuthenticationRequired", 407}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// Ranged items: bytes of a file appended to a local file that already holds
// the bytes before them. What the server answers, and what must come of it.
constexpr size_t kRangedFileSize = 5000;
const TDownLoadItem::TByteRange kAskedRange{1000, 1599};
const std::string kHeldBytes = "bytes held";

std::string Slice(const TDownLoadItem::TByteRange& range) {
    return Pattern(kRangedFileSize).substr(static_cast<size_t>(range.first), static_cast<size_t>(range.Length()));
}

HttpHeaders RangeHeaders(const std::string& contentRange, size_t length) {
    return {{"Content-Length", std::to_string(length)}, {"Content-Range", contentRange}, {"ETag", "\"v1\""}};
}

struct RangeAnswerCase {
    const char* name;
    std::string answer;  // the whole answer on the wire
    int status;
    bool refused;
    int64_t total;            // RangeTotal
    std::string appended;     // after the bytes held
    std::vector<std::string> events;  // between "begin" and "end"; both builds unless windowsEvents is set
    std::vector<std::string> windowsEvents = {};
    std::string retryAfter = "";
};
void PrintTo(const RangeAnswerCase& c, std::ostream* out) { *out << c.name; }

class RangeAnswerTest : public DownloadTest, public ::testing::WithParamInterface<RangeAnswerCase> {};

TEST_P(RangeAnswerTest, AppendsOnlyExactlyTheBytesAskedFor) {
    const RangeAnswerCase& c = GetParam();
    std::vector<std::string> ranges;
    server_.Get("/Quendal.zip", [&](HttpExchange& exchange) {
        ranges.push_back(exchange.Request().Header("Range").value_or(""));
        exchange.Send(c.answer);
    });
    TDownLoadItem* item = AddItem("/Quendal.zip");
    item->SetByteRange(kAskedRange);
    std::ofstream(dir_ / "Quendal.zip", std::ios::binary) << kHeldBytes;
    // A note of a partial file as a whole-file item would continue it: a
    // ranged item neither reads nor rewrites it.
    download_.SetResumePartialFiles(true);
    const std::string sideFile = (dir_ / "Quendal.zip.resume").string();
    ASSERT_TRUE((TResumeState{item->URL(), "\"v1\"", "", static_cast<int64_t>(kHeldBytes.size())}.Save(sideFile)));
    const std::string note = ReadAll(sideFile);

    download_.Start();

    EXPECT_EQ(ranges, std::vector<std::string>{"bytes=1000-1599"});
    EXPECT_EQ(item->StatusCode(), c.status);
    EXPECT_EQ(item->RangeRefused(), c.refused);
    EXPECT_EQ(item->RangeTotal(), c.total);
    EXPECT_EQ(item->RetryAfter(), c.retryAfter);
    EXPECT_EQ(item->ResumedFrom(), 0);
    EXPECT_EQ(ReadAll(dir_ / "Quendal.zip"), kHeldBytes + c.appended);
    EXPECT_EQ(ReadAll(sideFile), note);
    EXPECT_EQ(events_, Run(kWindowsBuild && !c.windowsEvents.empty() ? c.windowsEvents : c.events));
    EXPECT_EQ(download_.ErrorMsg(), "");
}

const std::vector<std::string> kNothingStored{"item end 0"};

INSTANTIATE_TEST_SUITE_P(
    Answers, RangeAnswerTest,
    ::testing::Values(
        RangeAnswerCase{"Matching",
                        HttpHead(206, RangeHeaders("bytes 1000-1599/5000", 600)) + Slice(kAskedRange), 206, false, 5000,
                        Slice(kAskedRange),
                        {"header 0", "item begin 0", "progress 255", "progress 510", "progress 600", "item end 0"}},
        RangeAnswerCase{"WholeFileIgnoringRange",
                        HttpHead(200, {{"Content-Length", "5000"}}) + Pattern(kRangedFileSize), 200, true, 0, "",
                        kNothingStored},
        RangeAnswerCase{"OtherBytes",
                        HttpHead(206, RangeHeaders("bytes 1001-1600/5000", 600)) + Slice({1001, 1600}), 206, true, 0,
                        "", kNothingStored},
        RangeAnswerCase{"NoContentRange",
                        HttpHead(206, {{"Content-Length", "600"}}) + Slice(kAskedRange), 206, true, 0, "",
                        kNothingStored},
        RangeAnswerCase{"UnknownTotal",
                        HttpHead(206, RangeHeaders("bytes 1000-1599/*", 600)) + Slice(kAskedRange), 206, true, 0, "",
                        kNothingStored},
        RangeAnswerCase{"ContentLengthDisagrees",
                        HttpHead(206, RangeHeaders("bytes 1000-1599/5000", 601)) + Slice(kAskedRange) + "x", 206, true,
                        0, "", kNothingStored},
        RangeAnswerCase{"NotFound",
                        HttpHead(404, {{"Content-Length", "9"}}) + "not found", 404, false, 0, "", kNothingStored},
        RangeAnswerCase{"Unavailable",
                        HttpHead(503, {{"Content-Length", "4"}, {"Retry-After", "7"}}) + "busy", 503, false, 0, "",
                        kNothingStored, {}, "7"},
        // As for any item: what arrived is kept, and the caller sees fewer bytes than FileSize.
        RangeAnswerCase{"BodyEndingShort",
                        HttpHead(206, RangeHeaders("bytes 1000-1599/5000", 600)) + Slice({1000, 1299}), 206, false,
                        5000, Slice({1000, 1299}),
                        {"header 0", "item begin 0", "progress 255", "progress 300", "item end 0"},
                        {"header 0", "item begin 0", "progress 255", "progress 300", "progress 300", "item end 0"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Ranges a FileSize and the progress events could not count, or that are no
// ranges at all, are refused before anything is asked or created.
class UnaskableRangeTest : public DownloadTest, public ::testing::WithParamInterface<TDownLoadItem::TByteRange> {};

TEST_P(UnaskableRangeTest, IsRefusedWithoutARequest) {
    int requests = 0;
    server_.Otherwise([&requests](HttpExchange& exchange) {
        ++requests;
        exchange.Respond(200, "text/plain", "x");
    });
    TDownLoadItem* item = AddItem("/Quendal.zip");
    item->SetByteRange(GetParam());
    download_.Start();
    EXPECT_EQ(requests, 0);
    EXPECT_TRUE(item->RangeRefused());
    EXPECT_EQ(item->StatusCode(), 0);
    EXPECT_TRUE(fs::is_empty(dir_));
    EXPECT_EQ(events_, Run({"item end 0"}));
}

INSTANTIATE_TEST_SUITE_P(Ranges, UnaskableRangeTest,
                         ::testing::Values(TDownLoadItem::TByteRange{0, INT32_MAX},
                                           TDownLoadItem::TByteRange{int64_t{1} << 40, (int64_t{1} << 41)},
                                           TDownLoadItem::TByteRange{10, 9}, TDownLoadItem::TByteRange{-1, 10}));

// A server that answers every single range of the file exactly.
void ServeRanges(LoopbackHttpServer& server, const std::string& path, const std::string& file) {
    server.Get(path, [file](HttpExchange& exchange) {
        long long first = 0, last = 0;
        const std::string range = exchange.Request().Header("Range").value_or("");
        if (std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) != 2) {
            exchange.Respond(200, "application/zip", file);
            return;
        }
        exchange.Respond(206, "application/zip", file.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1)),
                         {{"Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                                std::to_string(file.size())}});
    });
}

TEST_F(DownloadTest, RangedItemsFillOneFileInTurnOverOneConnection) {
    server_.SetKeepAlive(true);
    // Ranges larger than the transfer's buffers too, which make it pause and
    // resume: a transfer left unfinished at the last byte would lose its connection.
    const std::string file = Pattern(3 << 20);
    ServeRanges(server_, "/Quendal.zip", file);
    const std::vector<TDownLoadItem::TByteRange> ranges{
        {3000, 3999}, {0, 0}, {1, 254}, {1 << 20, (2 << 20) + 99}, {4500, 4999}, {255, 1275}, {100, (1 << 20) + 5}};
    std::string expected;
    for (const TDownLoadItem::TByteRange& range : ranges) {
        AddItem("/Quendal.zip")->SetByteRange(range);
        expected += file.substr(static_cast<size_t>(range.first), static_cast<size_t>(range.Length()));
    }
    download_.Start();
    EXPECT_EQ(ReadAll(dir_ / "Quendal.zip"), expected);
    for (int i = 0; i < download_.DownLoadItems().Count(); ++i) {
        const TDownLoadItem* item = download_.DownLoadItems().Items(i);
        EXPECT_EQ(item->StatusCode(), 206) << i;
        EXPECT_EQ(item->FileSize(), ranges[static_cast<size_t>(i)].Length()) << i;
        EXPECT_EQ(item->RangeTotal(), static_cast<int64_t>(file.size())) << i;
    }
    EXPECT_EQ(server_.AcceptedConnections(), 1);
    EXPECT_EQ(download_.ErrorMsg(), "");
}

}  // namespace

// Linux only: WinINet trusts the Windows store alone, which a test cannot
// extend under Wine, and the TLS server runs under python3.
#ifndef _WIN32
#include "support/tinyproxy_process.h"
#include "support/tls_test_server.h"

namespace {

// A secure address never leads to a plain one; a redirect within https is
// followed as any other.
TEST_F(DownloadTest, RedirectFromHttpsToHttpIsRefused) {
    const TTlsTestServer tls;
    ASSERT_TRUE(tls.Running()) << "the TLS test server did not start (openssl, python3)";
    int plainRequests = 0;
    server_.Get("/plain.zip", [&](HttpExchange& exchange) {
        ++plainRequests;
        exchange.Respond(200, "application/zip", "plain file");
    });
    download_.SetCertificateAuthorityFile(tls.CaFile());
    TDownLoadItem* secure = download_.DownLoadItems().Add();
    secure->SetURL(tls.Url("/to-https"));
    secure->SetLocalDir(dir_.string());
    TDownLoadItem* downgraded = download_.DownLoadItems().Add();
    downgraded->SetURL(tls.Url("/to?") + server_.Url("/plain.zip"));
    downgraded->SetLocalDir(dir_.string());
    downgraded->SetFileName("downgraded.zip");

    download_.Start();

    EXPECT_EQ(ReadAll(dir_ / "to-https"), "secure file");
    EXPECT_FALSE(fs::exists(dir_ / "downgraded.zip"));
    EXPECT_EQ(plainRequests, 0);
    EXPECT_EQ(download_.ErrorMsg(), "다음을 열 수 없습니다 [" + downgraded->URL() + "]");
}

// A certificate that does not verify is refused and said to be the reason;
// the same server with its CA trusted and its own name is fetched.
TEST_F(DownloadTest, CertificateThatDoesNotVerifyIsRefused) {
    const TTlsTestServer tls;
    const TTlsTestServer expired(TTlsTestServer::Certificate::Expired);
    ASSERT_TRUE(tls.Running() && expired.Running()) << "the TLS test servers did not start (openssl, faketime, python3)";
    struct Case {
        const char* name;
        const TTlsTestServer& server;
        bool trusted;  // its CA given to the component
        std::string url;
        bool refused;
    };
    std::string otherName = tls.Url("/file");
    otherName.replace(otherName.find("127.0.0.1"), 9, "localhost");
    const Case cases[] = {
        {"trusted", tls, true, tls.Url("/file"), false},
        {"untrusted", tls, false, tls.Url("/file"), true},
        {"another host name", tls, true, otherName, true},
        {"expired", expired, true, expired.Url("/file"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir_ / "file");
        download_.DownLoadItems().Clear();
        download_.SetCertificateAuthorityFile(c.trusted ? c.server.CaFile() : "");
        TDownLoadItem* item = download_.DownLoadItems().Add();
        item->SetURL(c.url);
        item->SetLocalDir(dir_.string());
        download_.Start();
        EXPECT_EQ(item->CertificateRefused(), c.refused);
        EXPECT_EQ(fs::exists(dir_ / "file"), !c.refused);
    }
}

// libcurl takes the proxy from the environment, as other programs do.
class ProxyTest : public DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        for (const char* name : {"http_proxy", "no_proxy", "NO_PROXY"})
            if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
        unsetenv("no_proxy");
        unsetenv("NO_PROXY");
    }
    void TearDown() override {
        unsetenv("http_proxy");
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
        DownloadTest::TearDown();
    }
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(ProxyTest, DownloadsThroughTheProxyOfTheEnvironment) {
    for (const bool basicAuth : {false, true}) {
        SCOPED_TRACE(basicAuth ? "proxy asking for credentials" : "open proxy");
        const TTinyproxyProcess proxy(basicAuth);
        ASSERT_TRUE(proxy.Running()) << "tinyproxy did not start";
        setenv("http_proxy", proxy.Url().c_str(), 1);
        std::string via;
        server_.Get("/through.zip", [&](HttpExchange& exchange) {
            via = exchange.Request().Header("Via").value_or("");
            exchange.Respond(200, "application/zip", "through the proxy");
        });
        download_.DownLoadItems().Clear();
        TDownLoadItem* item = AddItem("/through.zip");
        fs::remove(dir_ / "through.zip");

        download_.Start();

        if (basicAuth) {
            EXPECT_EQ(item->StatusCode(), 407);
            EXPECT_TRUE(via.empty());
        } else {
            EXPECT_EQ(ReadAll(dir_ / "through.zip"), "through the proxy");
            EXPECT_NE(via.find("tinyproxy"), std::string::npos) << via;
        }
    }
}

}  // namespace
#endif
