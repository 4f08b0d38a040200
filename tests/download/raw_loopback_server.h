#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

// A loopback server that answers every request with the same bytes, exactly
// as given: for responses a well-behaved HTTP server library will not send.
// Each connection is closed once the answer is written; the server stops when
// the object goes away.
class RawLoopbackServer {
public:
    explicit RawLoopbackServer(std::string answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (listener_ >= 0) ::close(listener_);
            throw std::runtime_error("no loopback port");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }

    ~RawLoopbackServer() {
        stopping_ = true;
        thread_.join();
        ::close(listener_);
    }

    RawLoopbackServer(const RawLoopbackServer&) = delete;
    RawLoopbackServer& operator=(const RawLoopbackServer&) = delete;

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    // Waits for fd to become ready, checking the stop request regularly.
    bool Ready(int fd, short events) const {
        pollfd entry{fd, events, 0};
        while (!stopping_)
            if (::poll(&entry, 1, 20) > 0) return true;
        return false;
    }

    void Serve() {
        while (Ready(listener_, POLLIN)) {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) continue;
            Answer(connection);
            ::close(connection);
        }
    }

    void Answer(int connection) const {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            if (!Ready(connection, POLLIN)) return;
            const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) return;
            request.append(buffer, static_cast<size_t>(got));
        }
        for (size_t sent = 0; sent < answer_.size();) {
            if (!Ready(connection, POLLOUT)) return;
            const ssize_t put = ::send(connection, answer_.data() + sent, answer_.size() - sent, MSG_NOSIGNAL);
            if (put <= 0) return;  // the client gave up
            sent += static_cast<size_t>(put);
        }
    }

    std::string answer_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
