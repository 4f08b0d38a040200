#pragma once

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

// A loopback HTTP server that serves one body at the updater's archive path,
// handing it out in small pieces so that the transfer runs through many reads.
class TArchiveServer {
public:
    // Port 0 takes any free port.
    explicit TArchiveServer(std::string body, int port = 0) : body_(std::move(body)) {
        server_.Get("/HTTP/Quendown/Quendal.zip", [this](const httplib::Request&, httplib::Response& response) {
            ++requests_;
            response.set_content_provider(
                body_.size(), "application/zip",
                [this](size_t offset, size_t length, httplib::DataSink& sink) {
                    const size_t piece = std::min<size_t>(length, 1000);
                    return sink.write(body_.data() + offset, piece);
                });
        });
        port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1") : server_.bind_to_port("127.0.0.1", port) ? port : -1;
        // The socket listens from here on; requests wait in its backlog until
        // the thread accepts them.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~TArchiveServer() {
        server_.stop();
        thread_.join();
    }

    // The archive's address the way the updater queues it: without a scheme.
    std::string UpdateUrl() const { return "127.0.0.1:" + std::to_string(port_) + "/HTTP/Quendown/Quendal.zip"; }
    bool Listening() const { return port_ > 0; }
    int Requests() const { return requests_; }
    const std::string& Body() const { return body_; }

private:
    std::string body_;
    httplib::Server server_;
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::thread thread_;
};
