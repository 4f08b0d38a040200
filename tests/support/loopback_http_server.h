#pragma once

#include "support/loopback_socket.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// An HTTP/1.1 server on a loopback port for tests, on Linux and on Windows.
// Each connection is served from a thread of its own: the request head is
// read, the handler registered for the request's path writes the answer
// (any bytes, so also broken or endless ones) and the connection is closed,
// or, on a server set to keep connections alive, the next request is read.
// Everything stops when the server goes away; a handler that holds its
// answer back (Hold) is released then.

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;
    std::string target;  // as on the request line
    HttpHeaders headers;

    // The value of the first header of that name (any letter case).
    std::optional<std::string> Header(std::string_view name) const {
        for (const auto& [key, value] : headers)
            if (std::equal(key.begin(), key.end(), name.begin(), name.end(),
                           [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); }))
                return value;
        return std::nullopt;
    }
};

// Status line, headers and the blank line; unless the connection is kept
// alive, the server closes it after one answer and says so.
inline std::string HttpHead(int status, const HttpHeaders& headers, bool keepAlive = false) {
    static const std::map<int, const char*> reasons{
        {200, "OK"}, {206, "Partial Content"}, {302, "Found"}, {404, "Not Found"},
        {407, "Proxy Authentication Required"}, {416, "Range Not Satisfiable"}, {503, "Service Unavailable"}};
    const auto reason = reasons.find(status);
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + (reason == reasons.end() ? "Status" : reason->second) +
                       "\r\n";
    for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
    return head + (keepAlive ? "\r\n" : "Connection: close\r\n\r\n");
}

// A body in the chunked transfer coding, one chunk per part.
inline std::string ChunkedBody(const std::vector<std::string>& parts) {
    std::string body;
    char size[20];
    for (const std::string& part : parts) {
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        body += size + part + "\r\n";
    }
    return body + "0\r\n\r\n";
}

class LoopbackHttpServer;

// One request and the connection its answer goes to.
class HttpExchange {
public:
    HttpExchange(LoopbackHttpServer& server, loopback_socket::Socket connection, HttpRequest request)
        : server_(server), connection_(connection), request_(std::move(request)) {}

    const HttpRequest& Request() const { return request_; }

    // Sends the bytes as they are; false once the client has gone or the server stops.
    bool Send(std::string_view bytes);

    // A complete answer: the body with its Content-Length.
    bool Respond(int status, std::string_view contentType, std::string_view body, HttpHeaders extra = {}) {
        extra.insert(extra.begin(),
                     {{"Content-Length", std::to_string(body.size())}, {"Content-Type", std::string(contentType)}});
        return Send(HttpHead(status, extra, KeepsAlive())) && Send(body);
    }

    bool Redirect(const std::string& location) {
        return Send(HttpHead(302, {{"Location", location}, {"Content-Length", "0"}}));
    }

    // Waits until the server stops, or for at most `limit`.
    void Hold(std::chrono::milliseconds limit);

    bool KeepsAlive() const;

private:
    LoopbackHttpServer& server_;
    loopback_socket::Socket connection_;
    HttpRequest request_;
};

using HttpHandler = std::function<void(HttpExchange&)>;

class LoopbackHttpServer {
public:
    // Port 0 takes any free port; a port that is taken leaves the server
    // not listening (Listening() is false) rather than sharing it.
    explicit LoopbackHttpServer(int port = 0) {
        listener_ = loopback_socket::ListenOnLoopback(port, port_);
        if (listener_ != loopback_socket::kNone) acceptor_ = std::thread([this] { AcceptConnections(); });
    }

    ~LoopbackHttpServer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        released_.notify_all();
        if (acceptor_.joinable()) acceptor_.join();
        // No thread is added once the acceptor has ended.
        for (std::thread& connection : connections_) connection.join();
        if (listener_ != loopback_socket::kNone) loopback_socket::Close(listener_);
    }

    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // Register before the first request arrives. A path without a handler
    // gets an empty 404 answer.
    void Get(const std::string& path, HttpHandler handler) { handlers_[path] = std::move(handler); }
    // Answers every request that no path handler takes.
    void Otherwise(HttpHandler handler) { otherwise_ = std::move(handler); }

    // Set before the first request: connections stay open for further
    // requests, and Respond says nothing of closing. A handler's own bytes
    // must then describe the body's end exactly.
    void SetKeepAlive(bool value) { keepAlive_ = value; }
    bool KeepsAlive() const { return keepAlive_; }
    // How many connections were accepted so far.
    int AcceptedConnections() const { return accepted_; }

    bool Listening() const { return listener_ != loopback_socket::kNone; }
    int Port() const { return port_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // Blocks a handler until the server stops, or for at most `limit`.
    void Hold(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        released_.wait_for(lock, limit, [this] { return stopping_.load(); });
    }

    // Waits in short steps so that a stopping server is never kept waiting.
    bool WaitReady(loopback_socket::Socket socket, bool forWriting, std::chrono::milliseconds limit) const {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        while (!stopping_ && std::chrono::steady_clock::now() < giveUp)
            if (loopback_socket::WaitReady(socket, forWriting, 20)) return true;
        return false;
    }

private:
    static constexpr size_t kMaxRequestHead = 64 * 1024;

    void AcceptConnections() {
        while (WaitReady(listener_, false, std::chrono::hours(24))) {
            const loopback_socket::Socket connection = loopback_socket::Accept(listener_);
            if (connection == loopback_socket::kNone) continue;
            ++accepted_;
            connections_.emplace_back([this, connection] { Serve(connection); });
        }
    }

    void Serve(loopback_socket::Socket connection) {
        std::string received;  // bytes read past the request head: the next request's
        while (std::optional<HttpRequest> request = ReadRequest(connection, received)) {
            HttpExchange exchange(*this, connection, std::move(*request));
            const auto handler = handlers_.find(PathOf(exchange.Request().target));
            if (handler != handlers_.end()) handler->second(exchange);
            else if (otherwise_) otherwise_(exchange);
            else exchange.Respond(404, "text/plain", "");
            if (!keepAlive_) break;
        }
        // The client reads everything sent, then the end of the stream; a
        // socket closed with unread input would reset the connection instead.
        loopback_socket::ShutdownSend(connection);
        char buffer[4096];
        while (WaitReady(connection, false, std::chrono::seconds(2)) &&
               loopback_socket::Receive(connection, buffer, sizeof buffer) > 0) {
        }
        loopback_socket::Close(connection);
    }

    std::optional<HttpRequest> ReadRequest(loopback_socket::Socket connection, std::string& received) const {
        char buffer[4096];
        while (received.find("\r\n\r\n") == std::string::npos) {
            if (received.size() > kMaxRequestHead || !WaitReady(connection, false, std::chrono::seconds(30)))
                return std::nullopt;
            const long got = loopback_socket::Receive(connection, buffer, sizeof buffer);
            if (got <= 0) return std::nullopt;
            received.append(buffer, static_cast<size_t>(got));
        }
        const size_t headEnd = received.find("\r\n\r\n");
        const std::string head = received.substr(0, headEnd + 2);
        received.erase(0, headEnd + 4);
        HttpRequest request;
        size_t lineStart = 0;
        for (size_t lineEnd; (lineEnd = head.find("\r\n", lineStart)) != std::string::npos; lineStart = lineEnd + 2) {
            const std::string line = head.substr(lineStart, lineEnd - lineStart);
            if (lineStart == 0) {
                const size_t space = line.find(' ');
                const size_t secondSpace = line.find(' ', space + 1);
                if (space == std::string::npos || secondSpace == std::string::npos) return std::nullopt;
                request.method = line.substr(0, space);
                request.target = line.substr(space + 1, secondSpace - space - 1);
                continue;
            }
            const size_t colon = line.find(':');
            if (colon == std::string::npos) return std::nullopt;
            const size_t value = line.find_first_not_of(' ', colon + 1);
            request.headers.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
        }
        return request;
    }

    static std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

    loopback_socket::Session session_;
    loopback_socket::Socket listener_ = loopback_socket::kNone;
    int port_ = 0;
    std::map<std::string, HttpHandler> handlers_;
    HttpHandler otherwise_;
    bool keepAlive_ = false;
    std::atomic<int> accepted_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable released_;
    std::thread acceptor_;
    std::vector<std::thread> connections_;  // touched by the acceptor only, until it has ended
};

inline bool HttpExchange::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (!server_.WaitReady(connection_, true, std::chrono::seconds(60))) return false;
        // A socket ready for writing takes a small piece without blocking;
        // a client that stops reading then never keeps the server waiting.
        const long sent = loopback_socket::Send(connection_, bytes.substr(0, 4096));
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

inline void HttpExchange::Hold(std::chrono::milliseconds limit) { server_.Hold(limit); }

inline bool HttpExchange::KeepsAlive() const { return server_.KeepsAlive(); }

// A handler that sends exactly these bytes, whatever was asked: for answers
// a well-behaved server would never give.
inline HttpHandler SendExactly(std::string bytes) {
    return [bytes = std::move(bytes)](HttpExchange& exchange) { exchange.Send(bytes); };
}
