// The download component over WinINet, against a loopback server that sends
// exactly the bytes a test gives it.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "download/download_component.h"
#include "download/win32/raw_http_server.h"
#include "support/temp_folder.h"

using namespace std::chrono_literals;

namespace {

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

std::string Response(const std::string& headers, const std::string& body) {
    return "HTTP/1.1 200 OK\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

class WinInetDownload : public ::testing::Test {
protected:
    // Downloads one URL into the temporary folder; the last progress count is kept.
    void Download(const std::string& url) {
        TDownLoadItem* item = download_.DownLoadItems().Add();
        item->SetURL(url);
        item->SetLocalDir(folder_.str());
        download_.OnItemDownloadProgress = [this](TObject*, TDownLoadItem*, int32_t current, int32_t) {
            lastProgress_ = current;
        };
        download_.Start();
    }
    std::string Stored(const std::string& name) {
        std::ifstream in(folder_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempFolder folder_;
    TWinHTTPDownload download_;
    int32_t lastProgress_ = -1;
};

TEST_F(WinInetDownload, StoresTheBodyWithTheSizeAndTypeFromTheHeaders) {
    const std::string body = Pattern(1000);
    RawHttpServer server(Response("Content-Length: 1000\r\nContent-Type: application/zip\r\n", body));
    Download(server.Url("/HTTP/Quendown/Quendal.zip"));
    EXPECT_EQ(download_.ErrorMsg(), "");
    EXPECT_EQ(Stored("Quendal.zip"), body);
    EXPECT_EQ(lastProgress_, 1000);
    const TDownLoadItem* item = download_.DownLoadItems().Items(0);
    EXPECT_EQ(item->FileSize(), 1000);
    EXPECT_EQ(item->ContentType(), "application/zip");
    const std::string request = server.LastRequest();
    EXPECT_EQ(request.rfind("GET /HTTP/Quendown/Quendal.zip HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("User-Agent: TWinHTTPDownload\r\n"), std::string::npos) << request;
}

TEST_F(WinInetDownload, BodyEndingShortOfItsLengthKeepsWhatArrived) {
    const std::string body = Pattern(300);
    RawHttpServer server(Response("Content-Length: 1000\r\n", body));
    Download(server.Url("/cut.zip"));
    EXPECT_EQ(Stored("cut.zip"), body);
    EXPECT_EQ(lastProgress_, 300);
}

TEST_F(WinInetDownload, HeaderLongerThanTheQueryBufferCountsAsAbsent) {
    RawHttpServer server(Response("Content-Length: 4\r\nContent-Type: " + std::string(300, 'x') + "\r\n", "data"));
    Download(server.Url("/long.zip"));
    EXPECT_EQ(Stored("long.zip"), "data");
    EXPECT_EQ(download_.DownLoadItems().Items(0)->ContentType(), "");
}

// Wine's WinINet applies no receive limit at all (it warns that it is not
// implemented), so a silent server would hang these tests there.
bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

TEST_F(WinInetDownload, BodyStallingPastTheReceiveLimitKeepsWhatArrived) {
    if (UnderWine()) GTEST_SKIP() << "Wine's WinINet ignores the receive limit";
    const std::string body = Pattern(300);
    RawHttpServer server(Response("Content-Length: 1000\r\n", body), true);
    download_.SetTimeouts({500ms, 500ms});
    Download(server.Url("/stalled.zip"));
    EXPECT_EQ(Stored("stalled.zip"), body);
    EXPECT_EQ(lastProgress_, 255);  // the last full chunk; the failed read reports nothing
}

TEST_F(WinInetDownload, SilentServerFailsTheOpenAfterTheReceiveLimit) {
    if (UnderWine()) GTEST_SKIP() << "Wine's WinINet ignores the receive limit";
    RawHttpServer server("", true);
    download_.SetTimeouts({500ms, 500ms});
    const std::string url = server.Url("/silent.zip");
    Download(url);
    EXPECT_EQ(download_.ErrorMsg(), "다음을 열 수 없습니다 [" + url + "]");
    EXPECT_FALSE(std::filesystem::exists(folder_ / "silent.zip"));
}

TEST_F(WinInetDownload, OnlyHttpUrlsAreOpened) {
    Download("ftp://127.0.0.1:9/x.zip");
    EXPECT_EQ(download_.ErrorMsg(), "다음을 열 수 없습니다 [ftp://127.0.0.1:9/x.zip]");
}

}  // namespace
