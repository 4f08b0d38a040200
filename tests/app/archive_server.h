#pragma once

#include "support/loopback_http_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// (and, if given, a release manifest and its signature beside it), handing
// it out in small pieces so that the transfer runs through many reads.
// Anything else is answered with an empty 404.
class TArchiveServer {
public:
    // Port 0 takes any free port.
    explicit TArchiveServer(std::string body, int port = 0, TServing serving = TServing::Whole,
                            std::optional<TServedFile> manifest = std::nullopt,
                            std::optional<TServedFile> manifestSignature = std::nullopt)
        : archive_{std::move(body), serving},
          manifest_(std::move(manifest)),
          manifestSignature_(std::move(manifestSignature)),
          server_(port) {
        ServeAt("/HTTP/Quendown/Quendal.zip", archive_, &archiveRequests_);
        if (manifest_) ServeAt("/HTTP/Quendown/Quendal.zip.manifest", *manifest_, nullptr);
        if (manifestSignature_) ServeAt("/HTTP/Quendown/Quendal.zip.manifest.sig", *manifestSignature_, nullptr);
    }

    // The archive's address the way the updater queues it: without a scheme.
    std::string UpdateUrl() const { return "127.0.0.1:" + std::to_string(server_.Port()) + "/HTTP/Quendown/Quendal.zip"; }
    bool Listening() const { return server_.Listening(); }
    // Requests of every file served, and of the archive alone.
    int Requests() const { return requests_; }
    int ArchiveRequests() const { return archiveRequests_; }
    // The byte ranges asked of the archive ("first-last"), in order; a
    // request of the whole archive is not listed.
    std::vector<std::string> ArchiveRanges() const {
        std::lock_guard lock(rangesMutex_);
        return archiveRanges_;
    }
    const std::string& Body() const { return archive_.body; }

    static constexpr const char* kNotFoundPage =
        "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n";

private:
    void ServeAt(const std::string& path, const TServedFile& file, std::atomic<int>* count) {
        server_.Get(path, [this, &file, count](HttpExchange& exchange) {
            ++requests_;
            if (count) ++*count;
            if (file.serving == TServing::NotFound) {
                exchange.Respond(404, "text/html", kNotFoundPage);
                return;
            }
            std::string_view body = file.body;
            // A single range "bytes=first-last" within the archive is
            // answered as asked; anything else gets the whole file.
            unsigned long long first = 0, last = 0;
            char end = 0;
            const std::optional<std::string> range = exchange.Request().Header("Range");
            if (count && file.serving == TServing::Whole && range &&
                std::sscanf(range->c_str(), "bytes=%llu-%llu%c", &first, &last, &end) == 2 && first <= last &&
                last < body.size()) {
                {
                    std::lock_guard lock(rangesMutex_);
                    archiveRanges_.push_back(std::to_string(first) + "-" + std::to_string(last));
                }
                const std::string_view part = body.substr(first, last - first + 1);
                if (!exchange.Send(HttpHead(206, {{"Content-Length", std::to_string(part.size())},
                                                  {"Content-Range", "bytes " + std::to_string(first) + "-" +
                                                                        std::to_string(last) + "/" +
                                                                        std::to_string(body.size())},
                                                  {"Content-Type", "application/zip"}})))
                    return;
                for (size_t offset = 0; offset < part.size(); offset += kPiece)
                    if (!exchange.Send(part.substr(offset, std::min(kPiece, part.size() - offset)))) return;
                return;
            }
            // Even a body smaller than one piece is cut at its half.
            const size_t sent = file.serving == TServing::Whole ? body.size() : body.size() / 2;
            if (!exchange.Send(HttpHead(200, {{"Content-Length", std::to_string(body.size())},
                                              {"Content-Type", "application/zip"}})))
                return;
            for (size_t offset = 0; offset < sent; offset += kPiece)
                if (!exchange.Send(body.substr(offset, std::min(kPiece, sent - offset)))) return;
            // Holding back lasts until the server is stopped.
            if (file.serving == TServing::Stall) exchange.Hold(std::chrono::hours(1));
        });
    }

    static constexpr size_t kPiece = 1000;

    const TServedFile archive_;
    const std::optional<TServedFile> manifest_;
    const std::optional<TServedFile> manifestSignature_;
    std::atomic<int> requests_{0};
    std::atomic<int> archiveRequests_{0};
    mutable std::mutex rangesMutex_;
    std::vector<std::string> archiveRanges_;
    LoopbackHttpServer server_;  // last: its threads stop before the bodies they send go away
};
