#pragma once

#include "download/blocking_call_waiter.h"
#include "download/http_timeouts.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The pull-style HTTP client over WinINet: a session opened with the agent
// name, a URL opened from it with its headers received, header queries into
// a fixed buffer, and reads of up to n bytes. WinINet's calls block, so every
// wait for the network runs on a thread of its own while the caller pumps its
// messages at least every 50 ms; a stop request ends a wait at once, and so
// does the stall limit where WinINet does not apply its receive limit (Wine).

class THttpRequest;

class THttpSession {
public:
    // WinINet checks certificates against the Windows store only: `caFile`
    // is not used.
    THttpSession(std::string agent, THttpTimeouts timeouts, THttpStopQuery stopRequested = {}, std::string caFile = {});
    ~THttpSession();
    THttpSession(const THttpSession&) = delete;
    THttpSession& operator=(const THttpSession&) = delete;

    // False when WinINet could not be opened.
    bool IsOpen() const { return internet_ != nullptr; }

    // GETs the URL (http and https only, reloaded from the server, up to 30
    // redirects to http or https followed, never from https to http),
    // sending `headers` ("Name: value" lines) as well, and returns once the
    // final response's headers are in; null when that fails, is stopped, or takes
    // longer than the connect and stall limits together. The request must not
    // outlive the session.
    std::unique_ptr<THttpRequest> OpenUrl(const std::string& url, const std::vector<std::string>& headers = {});
    // True when the latest open failed because the server's certificate did
    // not verify (untrusted, for another name, expired, revoked).
    bool CertificateRefused() const { return certificateRefused_; }

private:
    // The request over an open URL handle (HINTERNET), with the receive limit set on it.
    std::unique_ptr<THttpRequest> Opened(void* opened);

    void* internet_ = nullptr;  // HINTERNET
    THttpTimeouts timeouts_;
    THttpStopQuery stopRequested_;
    TBlockingCallWaiter waiter_;
    bool certificateRefused_ = false;
};

class THttpRequest {
public:
    // Takes the HINTERNET of the open URL; waits through the session's waiter.
    THttpRequest(void* url, std::chrono::milliseconds stall, THttpStopQuery stopRequested,
                 TBlockingCallWaiter& waiter);
    ~THttpRequest();
    THttpRequest(const THttpRequest&) = delete;
    THttpRequest& operator=(const THttpRequest&) = delete;

    // The response header with this name, as the system gives it; nothing
    // when it is missing or longer than the query buffer holds.
    std::optional<std::string> Header(std::string_view name) const;
    // The response's status code; 0 when there is none.
    int Status() const;

    // Reads `count` bytes, fewer only at the end of the body or on a failure.
    // Returns the number read, 0 at the end, -1 when the transfer failed, was
    // stopped or stalled (the bytes that arrived before are returned first).
    int64_t Read(void* buffer, size_t count);

private:
    // Waits until the body has bytes to read; false at its end or on a failure.
    bool WaitForBytes();

    void* url_;  // HINTERNET
    std::chrono::milliseconds stall_;
    THttpStopQuery stopRequested_;
    TBlockingCallWaiter& waiter_;
    size_t available_ = 0;  // bytes WinINet holds for reading without a wait
    bool failed_ = false;
};
