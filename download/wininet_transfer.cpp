#include "download/wininet_transfer.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

using Clock = std::chrono::steady_clock;

// What WinINet's status callbacks tell of one open URL, shared by the calls
// on it, which may outlive a wait given up: the context of its callbacks.
struct TWinInetStatus {
    // When the connection was made or the request sent, in Clock ticks; 0 before.
    std::atomic<Clock::rep> connected{0};

    std::optional<Clock::time_point> Connected() const {
        const Clock::rep ticks = connected.load();
        if (ticks == 0) return std::nullopt;
        return Clock::time_point(Clock::duration(ticks));
    }
};

namespace {

// Header values are queried into a buffer of this size, terminator included.
constexpr DWORD kHeaderBufferSize = 260;
constexpr DWORD kOpenPreconfigured = 0;  // the system's proxy settings
constexpr DWORD kReloadFromServer = 0x80000000;
// Redirects are followed here rather than by WinINet, which (under Wine at
// least) follows a redirect loop for ever and a Location of any scheme.
constexpr DWORD kOpenFlags = kReloadFromServer | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr int kMaxRedirects = 30;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char p, char t) { return LowerAscii(p) == LowerAscii(t); });
}

bool IsHttpsUrl(std::string_view url) { return StartsWithNoCase(url, "https://"); }
bool IsHttpUrl(std::string_view url) { return StartsWithNoCase(url, "http://") || IsHttpsUrl(url); }

// The status code of an open URL; 0 when there is none.
DWORD StatusCode(HINTERNET url) {
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!::HttpQueryInfoA(url, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr)) return 0;
    return status;
}

// Where a redirect leads, resolved against the URL that gave it; nothing
// when the response is no redirect or names no target, so that it is final.
std::optional<std::string> RedirectTarget(HINTERNET opened, const std::string& from) {
    const DWORD status = StatusCode(opened);
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return std::nullopt;
    // The first query tells the length (with the terminator) of a long value.
    std::string location(260, '\0');
    DWORD length = static_cast<DWORD>(location.size());
    bool found = ::HttpQueryInfoA(opened, HTTP_QUERY_LOCATION, location.data(), &length, nullptr);
    if (!found && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        location.resize(length);
        found = ::HttpQueryInfoA(opened, HTTP_QUERY_LOCATION, location.data(), &length, nullptr);
    }
    if (!found || length == 0) return std::nullopt;
    location.resize(length);
    // An unresolvable target is neither followed nor stored: the open fails.
    std::string target(location.size() + from.size() + 1, '\0');
    DWORD targetLength = static_cast<DWORD>(target.size());
    if (!::InternetCombineUrlA(from.c_str(), location.c_str(), target.data(), &targetLength, ICU_NO_ENCODE))
        return std::string();
    target.resize(targetLength);
    return target;
}

bool IsCertificateError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_INVALID_CA:
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
            return true;
        default:
            return false;
    }
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

void SetTimeout(HINTERNET internet, DWORD option, std::chrono::milliseconds limit) {
    DWORD milliseconds = static_cast<DWORD>(std::clamp<int64_t>(limit.count(), 1, MAXDWORD));
    ::InternetSetOptionA(internet, option, &milliseconds, sizeof milliseconds);
}

// Called on the thread of the call, also in synchronous mode, for the
// handles opened with a context (a TWinInetStatus). Only the statuses of an
// open or a request being sent touch it, and those come within calls that
// hold it; a handle closed later may report its closing after it is gone.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    if (!context) return;
    if (status == INTERNET_STATUS_CONNECTED_TO_SERVER || status == INTERNET_STATUS_REQUEST_SENT)
        reinterpret_cast<TWinInetStatus*>(context)->connected.store(Clock::now().time_since_epoch().count());
}

THttpFailure FailureOf(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_TIMEOUT:
            return THttpFailure::TimedOut;
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
            return THttpFailure::Broken;
        default:
            return THttpFailure::Refused;
    }
}

std::chrono::milliseconds WholeMilliseconds(Clock::duration duration) {
    return std::chrono::ceil<std::chrono::milliseconds>(duration);
}

}  // namespace

THttpSession::THttpSession(std::string agent, THttpTimeouts timeouts, THttpStopQuery stopRequested, std::string)
    : timeouts_(timeouts), stopRequested_(stopRequested), waiter_(std::move(stopRequested)) {
    HINTERNET internet = ::InternetOpenA(agent.c_str(), kOpenPreconfigured, nullptr, nullptr, 0);
    if (!internet) return;
    SetTimeout(internet, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connect);
    SetTimeout(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.stall);
    // Every handle opened from this one with a context reports to it.
    ::InternetSetStatusCallbackA(internet, &OnStatus);
    internet_ = internet;
}

THttpSession::~THttpSession() {
    if (internet_) ::InternetCloseHandle(static_cast<HINTERNET>(internet_));
}

std::unique_ptr<THttpRequest> THttpSession::OpenUrl(const std::string& url, const std::vector<std::string>& headers) {
    certificateRefused_ = false;
    openFailure_ = THttpFailure::None;
    std::string extra;
    for (const std::string& line : headers) extra += line + "\r\n";
    std::string current = url;
    for (int redirects = 0;; ++redirects) {
        // WinINet would also open ftp and file URLs; a download is HTTP.
        if (!internet_ || !IsHttpUrl(current)) {
            openFailure_ = THttpFailure::Refused;
            return nullptr;
        }
        if (stopRequested_ && stopRequested_()) {
            openFailure_ = THttpFailure::Stopped;
            return nullptr;
        }
        // Shared with the call, which may outlive this wait; a URL opened
        // after the wait was given up is closed where it was opened.
        auto opened = std::make_shared<HINTERNET>(nullptr);
        auto failure = std::make_shared<DWORD>(0);
        auto status = std::make_shared<TWinInetStatus>();
        const HINTERNET internet = static_cast<HINTERNET>(internet_);
        // Until the connection is made WinINet's connect limit applies; the
        // headers must come within the stall limit after it.
        const Clock::time_point start = Clock::now();
        const THttpTimeouts limits = timeouts_;
        const bool answered = waiter_.Run(
            [opened, failure, internet, current, extra, status] {
                *opened = ::InternetOpenUrlA(internet, current.c_str(), extra.empty() ? nullptr : extra.c_str(),
                                             static_cast<DWORD>(extra.size()), kOpenFlags,
                                             reinterpret_cast<DWORD_PTR>(status.get()));
                if (!*opened) *failure = ::GetLastError();
            },
            [opened, status] {
                if (*opened) ::InternetCloseHandle(*opened);
            },
            [status, start, limits] {
                const std::optional<Clock::time_point> connected = status->Connected();
                return connected ? *connected + limits.stall : start + limits.connect + limits.stall;
            });
        if (!answered) {
            openFailure_ = stopRequested_ && stopRequested_() ? THttpFailure::Stopped : THttpFailure::TimedOut;
            return nullptr;
        }
        if (!*opened) {
            certificateRefused_ = IsCertificateError(*failure);
            openFailure_ = FailureOf(*failure);
            return nullptr;
        }
        HINTERNET url = *opened;
        std::optional<std::string> target = RedirectTarget(url, current);
        if (!target) return Opened(url, std::move(status));
        ::InternetCloseHandle(url);
        // Once secure, a chain never continues in plain text.
        if (redirects == kMaxRedirects || (IsHttpsUrl(current) && !IsHttpsUrl(*target))) {
            openFailure_ = THttpFailure::Refused;
            return nullptr;
        }
        current = std::move(*target);
    }
}

std::unique_ptr<THttpRequest> THttpSession::Opened(void* opened, std::shared_ptr<TWinInetStatus> status) {
    // Set once more on the open URL: some WinINet versions give a request only
    // the limits set on the request itself.
    SetTimeout(static_cast<HINTERNET>(opened), INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts_.stall);
    return std::make_unique<THttpRequest>(opened, std::move(status), timeouts_, stopRequested_, waiter_);
}

THttpRequest::THttpRequest(void* url, std::shared_ptr<TWinInetStatus> status, const THttpTimeouts& timeouts,
                           THttpStopQuery stopRequested, TBlockingCallWaiter& waiter)
    : url_(url),
      status_(std::move(status)),
      stall_(timeouts.stall),
      floor_(timeouts),
      stopRequested_(std::move(stopRequested)),
      waiter_(waiter) {}

// The status object goes after the handle: closing it still reports to it.
THttpRequest::~THttpRequest() { ::InternetCloseHandle(static_cast<HINTERNET>(url_)); }

std::optional<std::string> THttpRequest::Header(std::string_view name) const {
    char buffer[kHeaderBufferSize] = {};
    DWORD level = HTTP_QUERY_CUSTOM;
    if (EqualNoCase(name, "Content-Length")) {
        level = HTTP_QUERY_CONTENT_LENGTH;
    } else if (EqualNoCase(name, "Content-Type")) {
        level = HTTP_QUERY_CONTENT_TYPE;
    } else {
        // A custom query names the header in the buffer it answers in.
        if (name.size() >= sizeof buffer) return std::nullopt;
        std::memcpy(buffer, name.data(), name.size());
    }
    DWORD length = sizeof buffer;
    if (!::HttpQueryInfoA(static_cast<HINTERNET>(url_), level, buffer, &length, nullptr)) return std::nullopt;
    return std::string(buffer, std::min<DWORD>(length, sizeof buffer - 1));
}

int THttpRequest::Status() const { return static_cast<int>(StatusCode(static_cast<HINTERNET>(url_))); }

int64_t THttpRequest::Read(void* buffer, size_t count) {
    if (failure_ != THttpFailure::None) return -1;
    char* out = static_cast<char*>(buffer);
    size_t copied = 0;
    while (copied < count) {
        if (stopRequested_ && stopRequested_()) {
            Fail(THttpFailure::Stopped);
            break;
        }
        if (available_ == 0 && !WaitForBytes()) break;
        // Bytes WinINet already holds are read at once, without a wait.
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>({count - copied, available_, MAXDWORD}));
        DWORD got = 0;
        if (!::InternetReadFile(static_cast<HINTERNET>(url_), out + copied, wanted, &got)) {
            const DWORD error = ::GetLastError();
            Fail(error == ERROR_INTERNET_TIMEOUT ? THttpFailure::TimedOut : THttpFailure::Broken);
            break;
        }
        if (got == 0) break;  // the end of the body
        copied += got;
        available_ -= std::min<size_t>(got, available_);
    }
    if (copied == 0 && failure_ != THttpFailure::None) return -1;
    return static_cast<int64_t>(copied);
}

// The stall limit and the floor rate bound the wait; the bytes it finds
// count for the floor's window as having arrived within it.
bool THttpRequest::WaitForBytes() {
    struct Answer {
        BOOL ok = FALSE;
        DWORD available = 0;
        DWORD error = 0;
    };
    auto answer = std::make_shared<Answer>();  // shared with a call that may outlive the wait
    const HINTERNET url = static_cast<HINTERNET>(url_);
    const Clock::time_point start = Clock::now();
    // Blocks until the body has bytes or has ended (0 bytes then).
    const bool answered = waiter_.Run(
        [answer, url, status = status_] {
            answer->ok = ::InternetQueryDataAvailable(url, &answer->available, 0, 0);
            if (!answer->ok) answer->error = ::GetLastError();
        },
        {}, WholeMilliseconds(floor_.WaitLeft(stall_)));
    if (answered && answer->ok) floor_.Received(answer->available);
    const bool keptUp = floor_.Waited(Clock::now() - start);
    if (!answered) {
        Fail(stopRequested_ && stopRequested_() ? THttpFailure::Stopped
             : keptUp                           ? THttpFailure::TimedOut
                                                : THttpFailure::TooSlow);
        return false;
    }
    if (!answer->ok) {
        Fail(FailureOf(answer->error) == THttpFailure::TimedOut ? THttpFailure::TimedOut : THttpFailure::Broken);
        return false;
    }
    if (!keptUp) {
        Fail(THttpFailure::TooSlow);
        return false;
    }
    available_ = answer->available;
    return available_ > 0;
}

void THttpRequest::Fail(THttpFailure failure) {
    if (failure_ == THttpFailure::None) failure_ = failure;
}
