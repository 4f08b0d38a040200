// Downloads one large body from a loopback server through TWinHTTPDownload,
// with a progress handler that does what the updater's does (format the
// KBytes text, pump), and fetches the same URL with the curl command-line
// tool in the same run, round by round. Prints both median throughputs, their
// ratio against the target, and the peak resident memory of this process after
// each size, to show it does not grow with the body. Then a 100 MiB body from
// a server that hangs up after every 10 MiB (ranges and an ETag offered): the
// component, continuing its partial file attempt after attempt, against an
// unbroken download, with the bytes the server sent in all.
//
// usage: download_bench [work-folder [size-in-MiB ...]]   (default: . 20 200)

#include "download/download_component.h"
#include "download/resume_state.h"
#include "platform/message_pump.h"
#include "platform/resource_usage.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 5;
constexpr double kTargetRatio = 0.95;  // of curl's throughput
constexpr int64_t kDroppingSize = int64_t{100} << 20;
constexpr int64_t kDropEvery = int64_t{10} << 20;
constexpr double kMaxSentRatio = 1.15;  // bytes sent against the file's size
constexpr double kMaxTimeRatio = 1.3;   // against an unbroken download

// "12,345"
std::string Grouped(int64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string KBytesText(int32_t done, int32_t total) {
    return Grouped(done / 1024) + " / " + Grouped(total / 1024) + " KBytes";
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The machine is shared: the median round is the fair figure, not the luckiest.
double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

bool SameContents(const fs::path& a, const fs::path& b) {
    if (fs::file_size(a) != fs::file_size(b)) return false;
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> bx(1 << 20), by(1 << 20);
    while (x && y) {
        x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
        y.read(by.data(), static_cast<std::streamsize>(by.size()));
        if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) return false;
    }
    return true;
}

double ComponentSeconds(const std::string& url, const fs::path& folder, int64_t size, std::string& lastText) {
    TWinHTTPDownload download;
    TDownLoadItem* item = download.DownLoadItems().Add();
    item->SetURL(url);
    item->SetLocalDir(folder.string());
    download.OnItemDownloadProgress = [&](TObject*, TDownLoadItem* current, int32_t bytes, int32_t) {
        lastText = KBytesText(bytes, current->FileSize());
        platform::ProcessMessages();
    };
    Clock::time_point start = Clock::now();
    download.Start();
    double seconds = Seconds(Clock::now() - start);
    if (static_cast<int64_t>(fs::file_size(item->FullFileName())) != size) {
        std::fprintf(stderr, "component stored %ju of %jd bytes (%s)\n",
                     static_cast<uintmax_t>(fs::file_size(item->FullFileName())), static_cast<intmax_t>(size),
                     download.ErrorMsg().c_str());
        std::exit(1);
    }
    return seconds;
}

// Downloads with resuming on until the file is whole; the attempts' time
// only (a window would wait between them).
double ResumingSeconds(const std::string& url, const fs::path& folder, int64_t size, int& attempts) {
    TWinHTTPDownload download;
    download.SetResumePartialFiles(true);
    TDownLoadItem* item = download.DownLoadItems().Add();
    item->SetURL(url);
    item->SetLocalDir(folder.string());
    download.OnItemDownloadProgress = [&](TObject*, TDownLoadItem* current, int32_t bytes, int32_t) {
        static std::string text;
        text = KBytesText(bytes, current->FileSize());
        platform::ProcessMessages();
    };
    Clock::duration spent{};
    for (attempts = 0; attempts < 40; ++attempts) {
        if (fs::exists(item->FullFileName()) && static_cast<int64_t>(fs::file_size(item->FullFileName())) == size &&
            !fs::exists(TResumeState::SideFileName(item->FullFileName())))
            break;
        const Clock::time_point start = Clock::now();
        download.Start();
        spent += Clock::now() - start;
    }
    if (!fs::exists(item->FullFileName()) || static_cast<int64_t>(fs::file_size(item->FullFileName())) != size) {
        std::fprintf(stderr, "the broken download did not complete (%s)\n", download.ErrorMsg().c_str());
        std::exit(1);
    }
    fs::remove(item->FullFileName());
    return Seconds(spent);
}

double CurlSeconds(const std::string& url, const fs::path& target) {
    std::string command = "curl -s -S -f -o '" + target.string() + "' '" + url + "'";
    Clock::time_point start = Clock::now();
    int status = std::system(command.c_str());
    double seconds = Seconds(Clock::now() - start);
    if (status != 0) {
        std::fprintf(stderr, "curl failed: %s\n", command.c_str());
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    std::vector<int64_t> sizesMiB;
    for (int i = 2; i < argc; ++i) sizesMiB.push_back(std::atoll(argv[i]));
    if (sizesMiB.empty()) sizesMiB = {20, 200};
    fs::path componentDir = work / "component";
    fs::create_directories(componentDir);

    // The body comes from one small pattern buffer, never from a body-sized string.
    static std::vector<char> pattern(64 * 1024);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 131 + (i >> 8));
    httplib::Server server;
    server.Get(R"(/body/(\d+)\.bin)", [](const httplib::Request& request, httplib::Response& response) {
        size_t length = std::stoull(request.matches[1]);
        response.set_content_provider(length, "application/octet-stream",
                                      [](size_t offset, size_t remaining, httplib::DataSink& sink) {
                                          size_t at = offset % pattern.size();
                                          size_t n = std::min(remaining, pattern.size() - at);
                                          return sink.write(pattern.data() + at, n);
                                      });
    });
    // The same bytes with an ETag (the server library answers ranges itself),
    // hanging up after every 10 MiB a connection sends.
    std::atomic<int64_t> droppingSent{0};
    server.Get(R"(/dropping/(\d+)\.bin)", [&](const httplib::Request& request, httplib::Response& response) {
        const size_t length = std::stoull(request.matches[1]);
        response.set_header("ETag", "\"1\"");
        auto first = std::make_shared<std::optional<size_t>>();
        response.set_content_provider(length, "application/octet-stream",
                                      [first, &droppingSent](size_t offset, size_t remaining, httplib::DataSink& sink) {
                                          if (!*first) *first = offset;
                                          const size_t sent = offset - **first;
                                          if (sent >= static_cast<size_t>(kDropEvery)) return false;  // hang up
                                          const size_t at = offset % pattern.size();
                                          const size_t n = std::min({remaining, pattern.size() - at,
                                                                     static_cast<size_t>(kDropEvery) - sent});
                                          droppingSent += static_cast<int64_t>(n);
                                          return sink.write(pattern.data() + at, n);
                                      });
    });
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::printf("peak resident memory before any download: %.1f MiB\n",
                static_cast<double>(platform::PeakResidentBytes()) / (1 << 20));
    for (int64_t mib : sizesMiB) {
        const int64_t size = mib << 20;
        const std::string name = std::to_string(size) + ".bin";
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/body/" + name;
        std::vector<double> componentRuns, curlRuns;
        std::string lastText;
        for (int round = 0; round < kRounds; ++round) {
            componentRuns.push_back(ComponentSeconds(url, componentDir, size, lastText));
            curlRuns.push_back(CurlSeconds(url, work / ("curl-" + name)));
        }
        if (!SameContents(componentDir / name, work / ("curl-" + name))) {
            std::fprintf(stderr, "the two downloads differ\n");
            return 1;
        }
        fs::remove(componentDir / name);
        fs::remove(work / ("curl-" + name));
        double mbComponent = static_cast<double>(size) / (1 << 20) / Median(componentRuns);
        double mbCurl = static_cast<double>(size) / (1 << 20) / Median(curlRuns);
        std::printf("%lld MiB (median of %d interleaved rounds): component %.1f MiB/s, curl %.1f MiB/s, ratio %.2f; last text \"%s\"\n",
                    static_cast<long long>(mib), kRounds, mbComponent, mbCurl, mbComponent / mbCurl,
                    lastText.c_str());
        std::printf("target at least %.2f x curl: %s\n", kTargetRatio,
                    mbComponent / mbCurl >= kTargetRatio ? "met" : "missed");
        std::printf("peak resident memory after %lld MiB: %.1f MiB\n", static_cast<long long>(mib),
                    static_cast<double>(platform::PeakResidentBytes()) / (1 << 20));
    }
    {
        const std::string name = std::to_string(kDroppingSize) + ".bin";
        const std::string base = "http://127.0.0.1:" + std::to_string(port);
        std::vector<double> broken, whole;
        int attempts = 0;
        std::string lastText;
        for (int round = 0; round < kRounds; ++round) {
            droppingSent = 0;
            broken.push_back(ResumingSeconds(base + "/dropping/" + name, componentDir, kDroppingSize, attempts));
            const double sentRatio = static_cast<double>(droppingSent) / static_cast<double>(kDroppingSize);
            if (sentRatio > kMaxSentRatio) {
                std::fprintf(stderr, "the server sent %.2f x the file\n", sentRatio);
                return 1;
            }
            whole.push_back(ComponentSeconds(base + "/body/" + name, componentDir, kDroppingSize, lastText));
            fs::remove(componentDir / name);
        }
        const double timeRatio = Median(broken) / Median(whole);
        std::printf("100 MiB, hung up after every 10 MiB (median of %d rounds): %d attempts, %.2f s against %.2f s "
                    "unbroken, ratio %.2f (target at most %.2f: %s); server sent %.3f x the file (at most %.2f)\n",
                    kRounds, attempts, Median(broken), Median(whole), timeRatio, kMaxTimeRatio,
                    timeRatio <= kMaxTimeRatio ? "met" : "missed",
                    static_cast<double>(droppingSent) / static_cast<double>(kDroppingSize), kMaxSentRatio);
    }
    server.stop();
    serving.join();
}
