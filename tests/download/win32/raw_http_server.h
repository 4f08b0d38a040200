#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

// A loopback server that answers every connection with the same raw bytes,
// so a test can send any response, also a broken one. With holdOpen the
// connection then stays open, silent, until the client or the server goes away.
class RawHttpServer {
public:
    explicit RawHttpServer(std::string response, bool holdOpen = false)
        : response_(std::move(response)), holdOpen_(holdOpen) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~RawHttpServer() {
        stop_ = true;
        thread_.join();
        ::closesocket(listener_);
        ::WSACleanup();
    }
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::string LastRequest() {
        std::lock_guard<std::mutex> lock(mutex_);
        return request_;
    }

private:
    // Waits in short steps so that the destructor is never kept waiting.
    bool Readable(SOCKET socket) const {
        while (!stop_) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket, &set);
            timeval step{0, 20000};
            if (::select(0, &set, nullptr, nullptr, &step) > 0) return true;
        }
        return false;
    }

    void Serve() {
        while (Readable(listener_)) {
            SOCKET client = ::accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos && Readable(client)) {
                const int got = ::recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                request.append(buffer, static_cast<size_t>(got));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                request_ = request;
            }
            ::send(client, response_.data(), static_cast<int>(response_.size()), 0);
            if (holdOpen_) {
                while (Readable(client) && ::recv(client, buffer, sizeof buffer, 0) > 0) {
                }
            } else {
                ::shutdown(client, SD_SEND);
            }
            ::closesocket(client);
        }
    }

    std::string response_;
    bool holdOpen_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string request_;
    std::thread thread_;
};
