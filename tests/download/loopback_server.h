#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// An HTTP server on a free loopback port, serving from its own thread for the
// life of the object. Handlers that must hang wait on Hold(), which is
// released when the server goes away.
class LoopbackServer {
public:
    LoopbackServer() {
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~LoopbackServer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        released_signal_.notify_all();
        server_.stop();
        thread_.join();
    }

    httplib::Server& Http() { return server_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // Blocks a handler until the server shuts down, or for at most `limit`.
    void Hold(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mutex_);
        released_signal_.wait_for(lock, limit, [this] { return released_; });
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable released_signal_;
    bool released_ = false;
};
