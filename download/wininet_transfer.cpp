#include "download/wininet_transfer.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstring>

namespace {

// Header values are queried into a buffer of this size, terminator included.
constexpr DWORD kHeaderBufferSize = 260;
constexpr DWORD kOpenPreconfigured = 0;  // the system's proxy settings
constexpr DWORD kReloadFromServer = 0x80000000;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
               return p == (t >= 'A' && t <= 'Z' ? static_cast<char>(t - 'A' + 'a') : t);
           });
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

void SetTimeout(HINTERNET internet, DWORD option, std::chrono::milliseconds limit) {
    DWORD milliseconds = static_cast<DWORD>(std::clamp<int64_t>(limit.count(), 1, MAXDWORD));
    ::InternetSetOptionA(internet, option, &milliseconds, sizeof milliseconds);
}

}  // namespace

THttpSession::THttpSession(std::string agent, THttpTimeouts timeouts, THttpStopQuery stopRequested)
    : stopRequested_(std::move(stopRequested)) {
    HINTERNET internet = ::InternetOpenA(agent.c_str(), kOpenPreconfigured, nullptr, nullptr, 0);
    if (!internet) return;
    SetTimeout(internet, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connect);
    SetTimeout(internet, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.stall);
    internet_ = internet;
    stall_ = timeouts.stall;
}

THttpSession::~THttpSession() {
    if (internet_) ::InternetCloseHandle(static_cast<HINTERNET>(internet_));
}

std::unique_ptr<THttpRequest> THttpSession::OpenUrl(const std::string& url) {
    // WinINet would also open ftp and file URLs; a download is HTTP.
    if (!internet_ || !(StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://"))) return nullptr;
    if (stopRequested_ && stopRequested_()) return nullptr;
    HINTERNET opened =
        ::InternetOpenUrlA(static_cast<HINTERNET>(internet_), url.c_str(), nullptr, 0, kReloadFromServer, 0);
    if (!opened) return nullptr;
    // Set once more on the open URL: some WinINet versions give a request only
    // the limits set on the request itself.
    SetTimeout(opened, INTERNET_OPTION_RECEIVE_TIMEOUT, stall_);
    return std::make_unique<THttpRequest>(opened, stopRequested_);
}

THttpRequest::THttpRequest(void* url, THttpStopQuery stopRequested)
    : url_(url), stopRequested_(std::move(stopRequested)) {}

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

int64_t THttpRequest::Read(void* buffer, size_t count) {
    if (failed_) return -1;
    char* out = static_cast<char*>(buffer);
    size_t copied = 0;
    while (copied < count) {
        if (stopRequested_ && stopRequested_()) {
            failed_ = true;
            break;
        }
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>(count - copied, MAXDWORD));
        DWORD got = 0;
        if (!::InternetReadFile(static_cast<HINTERNET>(url_), out + copied, wanted, &got)) {
            failed_ = true;
            break;
        }
        if (got == 0) break;  // the end of the body
        copied += got;
    }
    if (copied == 0 && failed_) return -1;
    return static_cast<int64_t>(copied);
}
