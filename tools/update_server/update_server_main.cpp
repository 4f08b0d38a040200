// quendal-update-server [--rate BYTES_PER_SECOND] [--close-early | --not-found] [--no-ranges | --wrong-ranges]
//                       FILE [ADDRESS [PORT]]
//
// Serves FILE at /HTTP/Quendown/Quendal.zip with its Content-Length, on
// ADDRESS (default 127.0.0.1) and PORT (default 280), until it is stopped.
// The file is opened again for every request, so it can be replaced meanwhile.
// A single range of it ("Range: bytes=a-b", "bytes=a-" or "bytes=-n") is
// answered with 206, its Content-Range and exactly those bytes; a range
// starting past the end with 416; several ranges, or a range header this
// server cannot read, with 200 and the whole file, as many servers do.
// FILE.manifest and FILE.manifest.sig, the release manifest and its
// signature, are served whole beside it (at Quendal.zip.manifest and
// Quendal.zip.manifest.sig) when they exist; otherwise those paths answer 404.
// Every file is served with validators: a strong ETag made of its size and
// last-write time, and its Last-Modified. A Range with an If-Range that names
// the file as it is now (the ETag by strong comparison, or the Last-Modified
// date exactly) is answered as a Range alone; with any other If-Range the
// whole file is sent with 200, so that an updater continuing a download
// never joins two versions of the file.
// Connections stay open for thousands of requests, so that an updater's
// range requests can share one, while they are idle for at most 2 s. Each
// connection is served on a thread of its own (at most 256 at once), so
// that connections held open never hold back another.
//
// What it prints, a line each, for a caller to follow:
//   connection                each connection accepted
//   archive requested         each request of the archive
//   sent PATH RANGE BYTES     each archive or manifest body once sent: the
//                             path, the Range header asked with ("-" for
//                             none) and the body bytes actually written
//
// For trying the updater against a poor server:
//   --rate N        sends at most N bytes a second
//   --close-early   announces the whole body, sends half of it and hangs up;
//                   it gives no ETag or Last-Modified, so that what arrived
//                   cannot be continued: a server that never delivers
//   --not-found     answers the archive with a 404 error page (with its Content-Length)
//   --no-ranges     ignores Range: always 200 and the whole file
//   --wrong-ranges  answers a range with 206 and the Content-Range asked for,
//                   but with the bytes from one byte further on (zeros past
//                   the end), as a broken cache or proxy might
#include "tools/update_server/asked_range.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr const char* kArchivePath = "/HTTP/Quendown/Quendal.zip";
constexpr const char* kNotFoundPage =
    "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
    "<p>The requested URL was not found on this server.</p></body></html>\n";
constexpr size_t kPieceSize = 64 * 1024;
// Requests one connection may carry; the library's default of 5 would make an
// updater's range requests open a new connection every few ranges.
constexpr size_t kKeepAliveRequests = 10000;
// Seconds a connection may wait for its next request (or its first) before
// it is closed: an updater asks for its ranges one right after the other.
constexpr time_t kKeepAliveSeconds = 2;
// Connections served at once; the next waits in the listen queue for one to end.
constexpr size_t kMaxConnections = 256;
// Tries to open a file whose version does not hold still meanwhile.
constexpr int kOpenAttempts = 3;

struct Options {
    long long rate = 0;  // bytes a second; 0 for as fast as possible
    bool closeEarly = false;
    bool notFound = false;
    bool noRanges = false;
    bool wrongRanges = false;
    std::string file;
    std::string address = "127.0.0.1";
    int port = 280;
};

bool ParseNumber(const char* text, long long low, long long high, long long& value) {
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

bool ParseOptions(int argc, char* argv[], Options& options) {
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        const std::string flag = argv[at];
        if (flag == "--rate" && at + 1 < argc) {
            if (!ParseNumber(argv[++at], 1, 1LL << 40, options.rate)) return false;
        } else if (flag == "--close-early") {
            options.closeEarly = true;
        } else if (flag == "--not-found") {
            options.notFound = true;
        } else if (flag == "--no-ranges") {
            options.noRanges = true;
        } else if (flag == "--wrong-ranges") {
            options.wrongRanges = true;
        } else {
            return false;
        }
    }
    if ((options.closeEarly && options.notFound) || (options.noRanges && options.wrongRanges)) return false;
    const int positional = argc - at;
    if (positional < 1 || positional > 3) return false;
    options.file = argv[at];
    if (positional >= 2) options.address = argv[at + 1];
    long long port = options.port;
    if (positional == 3 && !ParseNumber(argv[at + 2], 1, 65535, port)) return false;
    options.port = static_cast<int>(port);
    return true;
}

// One line of the log a caller follows; lines of concurrent requests never mix.
void PrintLine(const std::string& line) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The Range header as the log shows it: one word, "-" when there is none.
std::string RangeForLog(const httplib::Request& request) {
    std::string range = request.get_header_value("Range");
    range.erase(std::remove_if(range.begin(), range.end(), [](unsigned char c) { return c <= ' '; }), range.end());
    return range.empty() ? "-" : range;
}

// What tells one version of a served file from another: its size and
// last-write time, as the ETag and the Last-Modified give them.
struct TFileVersion {
    uintmax_t size = 0;
    int64_t writeTimeNs = 0;  // since 1970-01-01 00:00:00 UTC
    bool operator==(const TFileVersion&) const = default;

    // A strong tag: the size and the time to the nanosecond, in hexadecimal.
    std::string ETag() const {
        char tag[64];
        std::snprintf(tag, sizeof tag, "\"%jx-%llx\"", size, static_cast<unsigned long long>(writeTimeNs));
        return tag;
    }

    // The time to the second as an HTTP date (IMF-fixdate), always in this form.
    std::string LastModified() const {
        static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const std::time_t seconds =
            static_cast<std::time_t>(writeTimeNs / 1000000000 - (writeTimeNs % 1000000000 < 0 ? 1 : 0));
        std::tm utc{};
        if (!gmtime_r(&seconds, &utc)) return {};
        char date[64];
        std::snprintf(date, sizeof date, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                      kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
        return date;
    }
};

// The version of the file at a path (what a link names); nothing when it cannot be read.
std::optional<TFileVersion> VersionOf(const std::string& fileName) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error) return std::nullopt;
    const std::filesystem::file_time_type time = std::filesystem::last_write_time(fileName, error);
    if (error) return std::nullopt;
    const auto since1970 = std::chrono::file_clock::to_sys(time).time_since_epoch();
    return TFileVersion{size, std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count()};
}

// The file opened, and its version once open; `steady` when the version was
// the same before the open, so that a file replaced meanwhile is never sent
// under the validators of another (one that never holds still is sent
// without). Nothing when it cannot be opened.
std::optional<TFileVersion> OpenVersion(const std::string& fileName, std::ifstream& file, bool& steady) {
    std::optional<TFileVersion> after;
    steady = false;
    for (int attempt = 0; attempt < kOpenAttempts && !steady; ++attempt) {
        const std::optional<TFileVersion> before = VersionOf(fileName);
        file = std::ifstream(fileName, std::ios::binary);
        after = VersionOf(fileName);
        steady = file && before && before == after;
    }
    if (!file || !after) return std::nullopt;
    return after;
}

// The validators a response carries.
struct TValidators {
    std::string etag;
    std::string lastModified;
};

// Whether the request's Range may be answered as asked (RFC 9110, 13.1.5):
// with no If-Range, or with one naming the version served, an entity tag by
// strong comparison with the ETag (a weak tag never matches) or a date equal
// to the Last-Modified. Without validators nothing matches.
bool RangeStands(const httplib::Request& request, const TValidators* validators) {
    if (!request.has_header("If-Range")) return true;
    if (!validators) return false;
    std::string value = request.get_header_value("If-Range");
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t'; };
    while (!value.empty() && blank(value.back())) value.pop_back();
    value.erase(0, std::find_if_not(value.begin(), value.end(), blank) - value.begin());
    if (value.starts_with('"')) return value == validators->etag;
    return !value.starts_with("W/") && value == validators->lastModified;
}

// One response's body: `length` bytes of a file from `first` on, read piece by
// piece at the pace asked for, counted as they are written.
class TBodyStream {
public:
    TBodyStream(const Options& options, std::ifstream file, size_t first, size_t length, bool paced)
        : options_(options),
          file_(std::move(file)),
          first_(first),
          length_(length),
          paced_(paced),
          start_(std::chrono::steady_clock::now()) {}

    bool Send(size_t offset, size_t length, httplib::DataSink& sink) {
        size_t piece = std::min(length, kPieceSize);
        if (paced_ && options_.closeEarly) {
            if (offset >= length_ / 2) return false;  // the connection is dropped
            // Stops at the half even when a single piece would hold the whole body.
            piece = std::min(piece, length_ / 2 - offset);
        }
        if (paced_ && options_.rate > 0) {
            piece = std::min<size_t>(piece, std::max<long long>(options_.rate / 20, 1));
            const auto due = start_ + std::chrono::microseconds(static_cast<long long>(offset) * 1000000 / options_.rate);
            std::this_thread::sleep_until(due);
        }
        // Bytes past the file's end (only a shifted range reaches them) read as zeros.
        buffer_.assign(piece, '\0');
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(first_ + offset));
        file_.read(buffer_.data(), static_cast<std::streamsize>(piece));
        if (file_.bad()) return false;
        if (!sink.write(buffer_.data(), piece)) return false;
        written_ += piece;
        return true;
    }

    size_t Written() const { return written_; }

private:
    const Options& options_;
    std::ifstream file_;
    size_t first_;
    size_t length_;
    bool paced_;  // the archive is; the manifest and its signature are sent plainly
    std::chrono::steady_clock::time_point start_;
    std::string buffer_;
    std::atomic<size_t> written_{0};
};

// Answers a request of the archive or of a file beside it (`archive` false:
// always whole, at full speed), with the "sent" line once the body has gone.
void ServeFile(const Options& options, const std::string& path, const std::string& fileName, bool archive,
               const httplib::Request& request, httplib::Response& response) {
    const std::string rangeForLog = RangeForLog(request);
    auto sendPage = [&](int status, const std::string& body, const char* type) {
        response.status = status;
        response.set_content(body, type);
        PrintLine("sent " + path + " " + rangeForLog + " " + std::to_string(body.size()));
    };
    std::ifstream file;
    bool steady = false;
    const std::optional<TFileVersion> version = OpenVersion(fileName, file, steady);
    if (!version || (archive && options.notFound)) return sendPage(404, kNotFoundPage, "text/html");
    const auto size = static_cast<size_t>(version->size);
    // A server that hangs up half way gives nothing to continue from.
    const TValidators validators{version->ETag(), version->LastModified()};
    const TValidators* given = options.closeEarly || !steady ? nullptr : &validators;
    if (given) {
        response.set_header("ETag", given->etag);
        response.set_header("Last-Modified", given->lastModified);
    }

    const bool rangesServed = archive && !options.noRanges && RangeStands(request, given);
    const TAskedRange asked = rangesServed ? TAskedRange::Read(request.get_header_value("Range"), size) : TAskedRange{};
    if (asked.kind == TAskedRange::Kind::Unsatisfiable) {
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return sendPage(416, "", "text/plain");
    }
    size_t first = 0;
    size_t length = size;
    response.status = 200;
    if (asked.kind == TAskedRange::Kind::Part) {
        response.status = 206;
        response.set_header("Content-Range", "bytes " + std::to_string(asked.first) + "-" +
                                                 std::to_string(asked.first + asked.length - 1) + "/" +
                                                 std::to_string(size));
        first = asked.first + (options.wrongRanges ? 1 : 0);
        length = asked.length;
    }
    const char* type = archive ? "application/zip" : "application/octet-stream";
    if (length == 0) return sendPage(response.status, "", type);
    auto body = std::make_shared<TBodyStream>(options, std::move(file), first, length, archive);
    response.set_content_provider(
        length, type,
        [body](size_t offset, size_t count, httplib::DataSink& sink) { return body->Send(offset, count, sink); },
        [body, path, rangeForLog](bool) {
            PrintLine("sent " + path + " " + rangeForLog + " " + std::to_string(body->Written()));
        });
}

// The library's task queue: each connection it is given is told of and
// served on a thread of its own, so that connections idle between requests
// never keep another waiting, as they would in a pool of a few threads. At
// most kMaxConnections at once: beyond that the next is taken (and the
// listen queue read) once one has ended.
class TConnectionThreads : public httplib::TaskQueue {
public:
    ~TConnectionThreads() override { shutdown(); }

    void enqueue(std::function<void()> serveConnection) override {
        PrintLine("connection");
        std::unique_lock<std::mutex> lock(mutex_);
        connectionEnded_.wait(lock, [this] { return running_ < kMaxConnections; });
        JoinEnded();
        ++running_;
        const auto worker = workers_.emplace(workers_.end());
        worker->thread = std::thread([this, worker, serve = std::move(serveConnection)] {
            serve();
            std::lock_guard<std::mutex> ended(mutex_);
            worker->ended = true;
            --running_;
            connectionEnded_.notify_all();
        });
    }

    void shutdown() override {
        std::unique_lock<std::mutex> lock(mutex_);
        connectionEnded_.wait(lock, [this] { return running_ == 0; });
        JoinEnded();
    }

private:
    struct Worker {
        std::thread thread;
        bool ended = false;  // its connection was served; the thread has only to return
    };

    // Called with mutex_ held.
    void JoinEnded() {
        for (auto worker = workers_.begin(); worker != workers_.end();) {
            if (!worker->ended) {
                ++worker;
                continue;
            }
            worker->thread.join();
            worker = workers_.erase(worker);
        }
    }

    std::mutex mutex_;
    std::condition_variable connectionEnded_;
    std::list<Worker> workers_;
    size_t running_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: quendal-update-server [--rate BYTES_PER_SECOND] [--close-early | --not-found] "
                     "[--no-ranges | --wrong-ranges] FILE [ADDRESS [PORT]]\n");
        return 2;
    }
    if (!std::ifstream(options.file, std::ios::binary)) {
        std::fprintf(stderr, "quendal-update-server: cannot read %s\n", options.file.c_str());
        return 1;
    }

    httplib::Server server;
    // The library would share the port with any other server that binds it
    // (SO_REUSEPORT), and the updater's requests would go to either. A port
    // that is taken must be an error instead.
    server.set_socket_options([](socket_t socket) {
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    server.new_task_queue = [] { return new TConnectionThreads; };
    // Ranges are answered here, never by the library, which would apply the
    // ranges it parsed to any body: past the file's end for a range beyond it,
    // and to a 200 that ignores them. The request is the library's own
    // non-const object, lent to the handlers as const.
    server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        const_cast<httplib::Request&>(request).ranges.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });

    auto serveArchive = [&options](const httplib::Request& request, httplib::Response& response) {
        PrintLine("archive requested");
        ServeFile(options, kArchivePath, options.file, true, request, response);
    };
    server.Get(kArchivePath, serveArchive);
    // The library answers a Range header it cannot parse with 416 before any
    // handler sees the request; such a header is ignored here instead.
    server.set_error_handler(httplib::Server::HandlerWithResponse([&serveArchive](const httplib::Request& request,
                                                                                  httplib::Response& response) {
        if (response.status != 416 || response.has_header("Content-Range") || request.path != kArchivePath)
            return httplib::Server::HandlerResponse::Unhandled;
        const_cast<httplib::Request&>(request).ranges.clear();
        serveArchive(request, response);
        return httplib::Server::HandlerResponse::Handled;
    }));

    for (const std::string suffix : {".manifest", ".manifest.sig"}) {
        const std::string path = std::string(kArchivePath) + suffix;
        server.Get(path, [&options, suffix, path](const httplib::Request& request, httplib::Response& response) {
            ServeFile(options, path, options.file + suffix, false, request, response);
        });
    }

    if (!server.bind_to_port(options.address, options.port)) {
        std::fprintf(stderr, "quendal-update-server: cannot listen on %s:%d\n", options.address.c_str(),
                     options.port);
        return 1;
    }
    PrintLine("serving " + options.file + " at http://" + options.address + ":" + std::to_string(options.port) +
              kArchivePath);
    return server.listen_after_bind() ? 0 : 1;
}
