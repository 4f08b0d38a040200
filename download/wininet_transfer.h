#pragma once

#include "download/http_timeouts.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The pull-style HTTP client over WinINet: a session opened with the agent
// name, a URL opened from it with its headers received, header queries into
// a fixed buffer, and blocking reads of up to n bytes.

class THttpRequest;

class THttpSession {
public:
    // WinINet blocks inside its calls, so a stop is seen between them: before
    // the open and before each read.
    THttpSession(std::string agent, THttpTimeouts timeouts, THttpStopQuery stopRequested = {});
    ~THttpSession();
    THttpSession(const THttpSession&) = delete;
    THttpSession& operator=(const THttpSession&) = delete;

    // False when WinINet could not be opened.
    bool IsOpen() const { return internet_ != nullptr; }

    // GETs the URL (http and https only, reloaded from the server, up to 30
    // redirects to http or https followed) and returns once the final
    // response's headers are in; null when that fails. The request must not
    // outlive the session.
    std::unique_ptr<THttpRequest> OpenUrl(const std::string& url);

private:
    // The request over an open URL handle (HINTERNET), with the receive limit set on it.
    std::unique_ptr<THttpRequest> Opened(void* opened);

    void* internet_ = nullptr;  // HINTERNET
    std::chrono::milliseconds stall_;
    THttpStopQuery stopRequested_;
};

class THttpRequest {
public:
    // Takes the HINTERNET of the open URL.
    THttpRequest(void* url, THttpStopQuery stopRequested);
    ~THttpRequest();
    THttpRequest(const THttpRequest&) = delete;
    THttpRequest& operator=(const THttpRequest&) = delete;

    // The response header with this name, as the system gives it; nothing
    // when it is missing or longer than the query buffer holds.
    std::optional<std::string> Header(std::string_view name) const;

    // Reads `count` bytes, fewer only at the end of the body or on a failure.
    // Returns the number read, 0 at the end, -1 when the transfer failed (the
    // bytes that arrived before the failure are returned first).
    int64_t Read(void* buffer, size_t count);

private:
    void* url_;  // HINTERNET
    THttpStopQuery stopRequested_;
    bool failed_ = false;
};
