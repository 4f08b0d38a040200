#pragma once

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

// How the server answers at the updater's archive path.
enum class TServing {
    Whole,       // the body with its Content-Length
    CloseEarly,  // announces the whole body, sends half of it and hangs up
    Stall,       // announces the whole body, sends half of it and then nothing
    NotFound,    // a 404 error page with its Content-Length, in place of the body
};

// A file served beside the archive, and how.
struct TServedFile {
    std::string body;
    TServing serving = TServing::Whole;
};

// A loopback HTTP server that serves one body at the updater's archive path
// (and, if given, a signature beside it), handing it out in small pieces so
// that the transfer runs through many reads.
class TArchiveServer {
public:
    // Port 0 takes any free port.
    explicit TArchiveServer(std::string body, int port = 0, TServing serving = TServing::Whole,
                            std::optional<TServedFile> signature = std::nullopt)
        : archive_{std::move(body), serving}, signature_(std::move(signature)) {
        // Never share the port with another server (the library's default
        // SO_REUSEPORT would): a taken port must fail to bind.
        server_.set_socket_options([](socket_t socket) {
            int yes = 1;
            setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        ServeAt("/HTTP/Quendown/Quendal.zip", archive_);
        if (signature_) ServeAt("/HTTP/Quendown/Quendal.zip.sig", *signature_);
        port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1") : server_.bind_to_port("127.0.0.1", port) ? port : -1;
        // The socket listens from here on; requests wait in its backlog until
        // the thread accepts them.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // A stop that came before the loop runs would be missed, and the
        // destructor would wait for the loop for ever.
        while (port_ > 0 && !server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TArchiveServer() {
        stopping_ = true;
        server_.stop();
        thread_.join();
    }

    // The archive's address the way the updater queues it: without a scheme.
    std::string UpdateUrl() const { return "127.0.0.1:" + std::to_string(port_) + "/HTTP/Quendown/Quendal.zip"; }
    bool Listening() const { return port_ > 0; }
    int Requests() const { return requests_; }
    const std::string& Body() const { return archive_.body; }

    static constexpr const char* kNotFoundPage =
        "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n";

private:
    void ServeAt(const std::string& path, const TServedFile& file) {
        server_.Get(path, [this, &file](const httplib::Request&, httplib::Response& response) {
            ++requests_;
            if (file.serving == TServing::NotFound) {
                response.status = 404;
                response.set_content(kNotFoundPage, "text/html");
                return;
            }
            response.set_content_provider(
                file.body.size(), "application/zip",
                [this, &file](size_t offset, size_t length, httplib::DataSink& sink) {
                    const size_t sent = file.serving == TServing::Whole ? file.body.size() : file.body.size() / 2;
                    if (offset >= sent) {
                        // Holding back lasts until the server is stopped.
                        while (file.serving == TServing::Stall && !stopping_)
                            std::this_thread::sleep_for(std::chrono::milliseconds(10));
                        return false;
                    }
                    // Even a body smaller than one piece is cut at its half.
                    const size_t piece = std::min<size_t>({length, 1000, sent - offset});
                    return sink.write(file.body.data() + offset, piece);
                });
        });
    }

    const TServedFile archive_;
    const std::optional<TServedFile> signature_;
    httplib::Server server_;
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
