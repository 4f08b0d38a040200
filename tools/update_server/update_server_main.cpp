// quendal-update-server [--rate BYTES_PER_SECOND] [--close-early | --not-found] FILE [ADDRESS [PORT]]
//
// Serves FILE at /HTTP/Quendown/Quendal.zip with its Content-Length, on
// ADDRESS (default 127.0.0.1) and PORT (default 280), until it is stopped.
// The file is opened again for every request, so it can be replaced meanwhile.
// FILE.manifest and FILE.manifest.sig, the release manifest and its
// signature, are served whole beside it (at Quendal.zip.manifest and
// Quendal.zip.manifest.sig) when they exist; otherwise those paths answer 404.
// Each request of the archive prints a line "archive requested", so that a
// caller can tell whether the updater fetched it.
//
// For trying the updater against a poor server:
//   --rate N       sends at most N bytes a second
//   --close-early  announces the whole file, sends half of it and hangs up
//   --not-found    answers with a 404 error page (with its Content-Length)
#include <httplib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr const char* kArchivePath = "/HTTP/Quendown/Quendal.zip";
constexpr const char* kNotFoundPage =
    "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1>"
    "<p>The requested URL was not found on this server.</p></body></html>\n";
constexpr size_t kPieceSize = 64 * 1024;

struct Options {
    long long rate = 0;  // bytes a second; 0 for as fast as possible
    bool closeEarly = false;
    bool notFound = false;
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
        } else {
            return false;
        }
    }
    if (options.closeEarly && options.notFound) return false;
    const int positional = argc - at;
    if (positional < 1 || positional > 3) return false;
    options.file = argv[at];
    if (positional >= 2) options.address = argv[at + 1];
    long long port = options.port;
    if (positional == 3 && !ParseNumber(argv[at + 2], 1, 65535, port)) return false;
    options.port = static_cast<int>(port);
    return true;
}

// One response's body, read from the file piece by piece at the pace asked for.
class TBodyStream {
public:
    TBodyStream(const Options& options, std::ifstream file, size_t size)
        : options_(options), file_(std::move(file)), size_(size), start_(std::chrono::steady_clock::now()) {}

    bool Send(size_t offset, size_t length, httplib::DataSink& sink) {
        if (options_.closeEarly && offset >= size_ / 2) return false;  // the connection is dropped
        size_t piece = std::min(length, kPieceSize);
        if (options_.rate > 0) {
            piece = std::min<size_t>(piece, std::max<long long>(options_.rate / 20, 1));
            const auto due = start_ + std::chrono::microseconds(static_cast<long long>(offset) * 1000000 / options_.rate);
            std::this_thread::sleep_until(due);
        }
        buffer_.resize(piece);
        file_.seekg(static_cast<std::streamoff>(offset));
        if (!file_.read(buffer_.data(), static_cast<std::streamsize>(piece))) return false;
        return sink.write(buffer_.data(), piece);
    }

private:
    const Options& options_;
    std::ifstream file_;
    size_t size_;
    std::chrono::steady_clock::time_point start_;
    std::string buffer_;
};

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: quendal-update-server [--rate BYTES_PER_SECOND] [--close-early | --not-found] "
                     "FILE [ADDRESS [PORT]]\n");
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
    server.Get(kArchivePath, [&options](const httplib::Request&, httplib::Response& response) {
        std::printf("archive requested\n");
        std::fflush(stdout);
        if (options.notFound) {
            response.status = 404;
            response.set_content(kNotFoundPage, "text/html");
            return;
        }
        std::error_code error;
        const auto size = std::filesystem::file_size(options.file, error);
        std::ifstream file(options.file, std::ios::binary);
        if (error || !file) {
            response.status = 500;
            return;
        }
        auto body = std::make_shared<TBodyStream>(options, std::move(file), static_cast<size_t>(size));
        response.set_content_provider(static_cast<size_t>(size), "application/zip",
                                      [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                          return body->Send(offset, length, sink);
                                      });
    });

    for (const std::string suffix : {".manifest", ".manifest.sig"}) {
        server.Get(std::string(kArchivePath) + suffix, [&options, suffix](const httplib::Request&,
                                                                           httplib::Response& response) {
            std::ifstream file(options.file + suffix, std::ios::binary);
            if (!file) {
                response.status = 404;
                response.set_content(kNotFoundPage, "text/html");
                return;
            }
            response.set_content(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()),
                                 "application/octet-stream");
        });
    }

    if (!server.bind_to_port(options.address, options.port)) {
        std::fprintf(stderr, "quendal-update-server: cannot listen on %s:%d\n", options.address.c_str(),
                     options.port);
        return 1;
    }
    std::printf("serving %s at http://%s:%d%s\n", options.file.c_str(), options.address.c_str(), options.port,
                kArchivePath);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
