#pragma once

#include <curl/curl.h>

#include "download/http_timeouts.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A pull-style HTTP client over libcurl in the shape the download component
// was designed around: a session, a URL opened from it that has received the
// final response's headers, header queries, and blocking reads of up to n
// bytes. Only the bytes of a small transfer buffer are ever held, however long the
// body: the transfer is paused while the reader has not caught up. Making a
// connection is bounded by libcurl's connect limit; once it is made, the
// stall limit and the floor rate of THttpTimeouts bound the time spent
// waiting for the network (not the time the reader keeps the bytes it got).

class THttpRequest;

class THttpSession {
public:
    // `caFile`, when not empty, replaces the system's certificate authorities
    // (a PEM bundle).
    THttpSession(std::string agent, THttpTimeouts timeouts, THttpStopQuery stopRequested = {}, std::string caFile = {});
    ~THttpSession();
    THttpSession(const THttpSession&) = delete;
    THttpSession& operator=(const THttpSession&) = delete;

    // False when the transfer machinery could not be set up.
    bool IsOpen() const { return multi_ != nullptr; }

    // GETs the URL (never from a cache, redirects followed, http and https
    // only, never from an https URL to an http one), sending `headers`
    // ("Name: value" lines) as well, and returns once the final response's
    // headers have arrived. Null when that does not happen. The request must
    // not outlive the session. Every wait for the network pumps the caller's
    // messages at least every 50 ms, so a window stays alive and can ask for
    // a stop.
    std::unique_ptr<THttpRequest> OpenUrl(const std::string& url, const std::vector<std::string>& headers = {});
    // True when the latest open failed because the server's certificate did
    // not verify (untrusted, for another name, expired).
    bool CertificateRefused() const { return certificateRefused_; }
    // Why the latest open failed; None after one that succeeded.
    THttpFailure OpenFailure() const { return openFailure_; }

private:
    std::string agent_;
    THttpTimeouts timeouts_;
    THttpStopQuery stopRequested_;
    std::string caFile_;
    CURLM* multi_ = nullptr;
    bool certificateRefused_ = false;
    THttpFailure openFailure_ = THttpFailure::None;
};

class THttpRequest {
public:
    // Made by THttpSession::OpenUrl.
    THttpRequest(CURLM* multi, THttpTimeouts timeouts, THttpStopQuery stopRequested);
    ~THttpRequest();
    THttpRequest(const THttpRequest&) = delete;
    THttpRequest& operator=(const THttpRequest&) = delete;

    // The first header of the final response with this name (any letter
    // case), its value without surrounding white space.
    std::optional<std::string> Header(std::string_view name) const;
    // The final response's status code; 0 when it had no status line.
    int Status() const { return status_; }

    // Reads `count` bytes, fewer only at the end of the body or on a failure.
    // Returns the number read, 0 at the end, -1 when the transfer failed (the
    // bytes that arrived before the failure are returned first).
    int64_t Read(void* buffer, size_t count);
    // Why the transfer failed; None while it has not.
    THttpFailure Failure() const { return failure_; }

private:
    friend class THttpSession;

    bool Open(const std::string& url, const std::string& agent, const std::vector<std::string>& headers,
              const std::string& caFile);
    template <typename Ready>
    void DriveUntil(Ready ready);
    void CollectResult();
    void FinishReceivedBody();
    void Fail(CURLcode code, THttpFailure failure);
    bool Failed() const { return done_ && result_ != CURLE_OK; }
    bool HaveUnreadBody() const { return readPos_ < writePos_; }

    bool TakeHeaderLine(std::string_view line);  // false: too many header bytes
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnSocketMade(void* self, curl_socket_t socket, curlsocktype purpose);
    static int OnConnected(void* self, char* remoteAddress, char* localAddress, int remotePort, int localPort);
    bool StoreBody(const char* data, size_t length);  // false: the transfer must pause

    CURLM* multi_;
    CURL* easy_ = nullptr;
    curl_slist* requestHeaders_ = nullptr;
    bool attached_ = false;
    THttpTimeouts timeouts_;
    THttpStopQuery stopRequested_;
    // While a connection is being made, libcurl's connect limit applies;
    // once it is made, the stall limit and the floor rate.
    bool connecting_ = true;
    // The latest byte that arrived, or the moment the connection was made.
    std::chrono::steady_clock::time_point lastByte_;
    TRateFloor floor_;

    // The response whose headers are being read or were read last.
    int status_ = 0;
    bool inHeaderBlock_ = false;
    bool finalHeaders_ = false;
    size_t headerBytes_ = 0;  // of every response of the open, interim and redirects included
    std::vector<std::pair<std::string, std::string>> headers_;

    // Body bytes received but not read yet: body_[readPos_..writePos_). The
    // indices move instead of the bytes.
    std::vector<char> body_;
    size_t readPos_ = 0;
    size_t writePos_ = 0;
    bool paused_ = false;

    bool done_ = false;
    CURLcode result_ = CURLE_OK;
    THttpFailure failure_ = THttpFailure::None;
};
