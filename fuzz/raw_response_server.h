#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

// A loopback server that answers every request with the same raw bytes, as
// they are, and then closes the connection. It serves from its own thread for
// the life of the process.
class RawResponseServer {
public:
    RawResponseServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no loopback port to serve on");
        port_ = ntohs(address.sin_port);
        std::thread([this] { Serve(); }).detach();
    }

    void SetResponse(std::string bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        response_ = std::move(bytes);
    }

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void Serve() {
        for (;;) {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) continue;
            ReadRequest(connection);
            std::string response;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                response = response_;
            }
            for (size_t sent = 0; sent < response.size();) {
                const ssize_t n = ::send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            ::shutdown(connection, SHUT_WR);
            ::close(connection);
        }
    }

    // Up to the blank line that ends the request's headers; a GET has no body.
    static void ReadRequest(int connection) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            pollfd ready{connection, POLLIN, 0};
            if (::poll(&ready, 1, 1000) <= 0) return;
            const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request.append(buffer, static_cast<size_t>(n));
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::string response_;
};
