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
// do the stall limit and the floor rate, measured here (Wine does not apply
// WinINet's receive limit). WinINet's status callbacks tell when the
// connection of an open is made, so that the stall limit counts from there.

class THttpRequest;
struct TWinInetStatus;  // what the status callbacks of one open URL tell

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
    // final response's headers are in; null when that fails, is stopped, or
    // the headers do not come within the stall limit of the connection being
    // made (within the connect and stall limits together where WinINet does
    // not tell when it made it). The request must not outlive the session.
    std::unique_ptr<THttpRequest> OpenUrl(const std::string& url, const std::vector<std::string>& headers = {});
    // True when the latest open failed because the server's certificate did
    // not verify (untrusted, for another name, expired, revoked).
    bool CertificateRefused() const { return certificateRefused_; }
    // Why the latest open failed; None after one that succeeded.
    THttpFailure OpenFailure() const { return openFailure_; }

private:
    // The request over an open URL handle (HINTERNET), with the receive limit set on it.
    std::unique_ptr<THttpRequest> Opened(void* opened, std::shared_ptr<TWinInetStatus> status);

    void* internet_ = nullptr;  // HINTERNET
    THttpTimeouts timeouts_;
    THttpStopQuery stopRequested_;
    TBlockingCallWaiter waiter_;
    bool certificateRefused_ = false;
    THttpFailure openFailure_ = THttpFailure::None;
};

class THttpRequest {
public:
    // Takes the HINTERNET of the open URL and what its status callbacks
    // tell; waits through the session's waiter.
    THttpRequest(void* url, std::shared_ptr<TWinInetStatus> status, const THttpTimeouts& timeouts,
                 THttpStopQuery stopRequested, TBlockingCallWaiter& waiter);
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
    // stopped, stalled or fell below the floor rate (the bytes that arrived
    // before are returned first). A body that ends short of its length, the
    // connection closed, reads as an ended one.
    int64_t Read(void* buffer, size_t count);
    // Why the transfer failed; None while it has not.
    THttpFailure Failure() const { return failure_; }

private:
    // Waits until the body has bytes to read; false at its end or on a failure.
    bool WaitForBytes();
    void Fail(THttpFailure failure);

    void* url_;  // HINTERNET
    std::shared_ptr<TWinInetStatus> status_;  // the context of the handle's callbacks: lives as long
    std::chrono::milliseconds stall_;
    TRateFloor floor_;
    THttpStopQuery stopRequested_;
    TBlockingCallWaiter& waiter_;
    size_t available_ = 0;  // bytes WinINet holds for reading without a wait
    THttpFailure failure_ = THttpFailure::None;
};
