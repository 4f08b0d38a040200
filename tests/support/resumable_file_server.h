#pragma once

#include "support/loopback_http_server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One file served at one path of a loopback server, the way servers on real
// networks treat a download that is continued: byte ranges with an ETag
// (If-Range honoured), optionally hanging up after every k body bytes, or
// dripping the body a byte at a time, or ignoring Range, or answering a range with a Content-Range that does not
// start where it was asked, or answering the first requests with an error
// status. It keeps every request's Range header and the body bytes it sent.
class TResumableFileServer {
public:
    struct Options {
        size_t dropEvery = 0;  // body bytes sent per connection before hanging up; 0: all
        bool sendETag = true;
        bool ignoreRange = false;
        bool wrongContentRange = false;  // a 206 that starts one byte late
        std::vector<int> statusFirst;    // statuses given to the first requests from now on, then the file
        std::string retryAfter;          // sent with those statuses when not empty
        std::chrono::milliseconds dripEvery{0};  // when set, the body goes a byte each time this passed
    };

    TResumableFileServer(LoopbackHttpServer& server, const std::string& path, std::string body, Options options)
        : body_(std::move(body)), options_(std::move(options)) {
        server.Get(path, [this](HttpExchange& exchange) { Serve(exchange); });
    }

    // Waits for the answers still being sent (a dripping one ends at its
    // next byte), which would otherwise outlive the file they send.
    ~TResumableFileServer() {
        std::unique_lock<std::mutex> lock(mutex_);
        closing_ = true;
        idle_.wait(lock, [this] { return serving_ == 0; });
    }
    TResumableFileServer(const TResumableFileServer&) = delete;
    TResumableFileServer& operator=(const TResumableFileServer&) = delete;

    // The next requests get this body under a new ETag, or under the old one
    // (a server that changed the file without saying so).
    void ChangeBody(std::string body, bool newETag = true) {
        std::lock_guard<std::mutex> lock(mutex_);
        body_ = std::move(body);
        if (newETag) ++version_;
    }
    void SetOptions(Options options) {
        std::lock_guard<std::mutex> lock(mutex_);
        options_ = std::move(options);
        optionsSince_ = ranges_.size();
    }

    // The Range header of each request so far ("" without one).
    std::vector<std::string> Ranges() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return ranges_;
    }
    int64_t BodyBytesSent() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }

private:
    static constexpr size_t kPiece = 1000;

    // Counts the answers being sent while it lives.
    class TServing {
    public:
        explicit TServing(TResumableFileServer& server) : server_(server) { ++server_.serving_; }
        ~TServing() {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            if (--server_.serving_ == 0) server_.idle_.notify_all();
        }
        TServing(const TServing&) = delete;
        TServing& operator=(const TServing&) = delete;

    private:
        TResumableFileServer& server_;
    };

    void Serve(HttpExchange& exchange) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (closing_) return;
        const TServing serving(*this);  // counted under the lock
        const size_t request = ranges_.size() - optionsSince_;
        const HttpRequest& asked = exchange.Request();
        ranges_.push_back(asked.Header("Range").value_or(""));
        const Options options = options_;
        const std::string body = body_;
        const std::string etag = "\"v" + std::to_string(version_) + "\"";
        lock.unlock();

        if (request < options.statusFirst.size()) {
            HttpHeaders extra;
            if (!options.retryAfter.empty()) extra.emplace_back("Retry-After", options.retryAfter);
            exchange.Respond(options.statusFirst[request], "text/html", "<html>not now</html>", extra);
            return;
        }
        size_t offset = 0;
        const std::optional<size_t> first = RangeStart(asked);
        const std::optional<std::string> ifRange = asked.Header("If-Range");
        const bool rangeApplies = first && !options.ignoreRange && options.sendETag && (!ifRange || *ifRange == etag);
        HttpHeaders headers;
        int status = 200;
        if (rangeApplies && *first >= body.size()) {
            exchange.Send(HttpHead(416, {{"Content-Range", "bytes */" + std::to_string(body.size())},
                                         {"Content-Length", "0"}}));
            return;
        }
        if (rangeApplies) {
            status = 206;
            offset = *first + (options.wrongContentRange ? 1 : 0);
            headers.emplace_back("Content-Range", "bytes " + std::to_string(offset) + "-" +
                                                      std::to_string(body.size() - 1) + "/" +
                                                      std::to_string(body.size()));
        }
        headers.emplace_back("Content-Length", std::to_string(body.size() - offset));
        headers.emplace_back("Content-Type", "application/zip");
        if (options.sendETag) headers.emplace_back("ETag", etag);
        if (!exchange.Send(HttpHead(status, headers))) return;
        const size_t end = options.dropEvery ? std::min(body.size(), offset + options.dropEvery) : body.size();
        const size_t pieceSize = options.dripEvery.count() > 0 ? 1 : kPiece;
        for (size_t at = offset; at < end; at += pieceSize) {
            const size_t piece = std::min(pieceSize, end - at);
            if (options.dripEvery.count() > 0) exchange.Hold(options.dripEvery);
            if (!exchange.Send(std::string_view(body).substr(at, piece))) return;
            std::lock_guard<std::mutex> counting(mutex_);
            sent_ += static_cast<int64_t>(piece);
            if (closing_) return;
        }
    }

    // N of "bytes=N-"; nothing for any other form.
    static std::optional<size_t> RangeStart(const HttpRequest& request) {
        const std::optional<std::string> range = request.Header("Range");
        if (!range || !range->starts_with("bytes=") || range->back() != '-' || range->size() < 8 || range->size() > 20)
            return std::nullopt;
        const std::string digits = range->substr(6, range->size() - 7);
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
        return static_cast<size_t>(std::stoull(digits));
    }

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int serving_ = 0;  // answers being sent
    bool closing_ = false;
    std::string body_;
    Options options_;
    int version_ = 1;
    size_t optionsSince_ = 0;  // the request the options took effect with
    std::vector<std::string> ranges_;
    int64_t sent_ = 0;
};
