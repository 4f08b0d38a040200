#include "download/http_transfer.h"

#include "platform/message_pump.h"

#include <algorithm>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// libcurl is asked for chunks of this size. The reader's buffer holds four, so
// the transfer pauses less often: a paused transfer makes libcurl hold back
// and copy the chunk once more.
constexpr size_t kTransferBuffer = 64 * 1024;
constexpr size_t kBodyBuffer = 4 * kTransferBuffer;
constexpr long kMaxRedirects = 30;
// The headers of one open may not take more, all responses together: an
// endless stream of header lines or of interim responses would otherwise hold
// the open.
constexpr size_t kMaxHeaderBytes = 100 * 1024;
// Upper bound of one wait: the caller's messages are pumped, and the stop
// request and the stall limit checked, this often; below 50 ms with room for
// the work between two waits.
constexpr std::chrono::milliseconds kMaxPoll{40};

bool GlobalInitDone() {
    static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return done;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool IsHttpsUrl(std::string_view url) { return url.size() >= 8 && EqualNoCase(url.substr(0, 8), "https://"); }

// Why libcurl ended a transfer. Its timeouts are the connect limit only: the
// stall limit and the floor rate are the request's own.
THttpFailure FailureOf(CURLcode code) {
    switch (code) {
        case CURLE_OK:
            return THttpFailure::None;
        case CURLE_OPERATION_TIMEDOUT:
            return THttpFailure::TimedOut;
        case CURLE_ABORTED_BY_CALLBACK:
            return THttpFailure::Stopped;
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return THttpFailure::Broken;
        default:
            return THttpFailure::Refused;
    }
}

int ParseStatus(std::string_view statusLine) {
    size_t space = statusLine.find(' ');
    int status = 0;
    for (size_t i = space == std::string_view::npos ? statusLine.size() : space + 1;
         i < statusLine.size() && statusLine[i] >= '0' && statusLine[i] <= '9' && status < 1000; ++i)
        status = status * 10 + (statusLine[i] - '0');
    return status;
}

}  // namespace

THttpSession::THttpSession(std::string agent, THttpTimeouts timeouts, THttpStopQuery stopRequested, std::string caFile)
    : agent_(std::move(agent)), timeouts_(timeouts), stopRequested_(std::move(stopRequested)), caFile_(std::move(caFile)) {
    if (GlobalInitDone()) multi_ = curl_multi_init();
}

THttpSession::~THttpSession() {
    if (multi_) curl_multi_cleanup(multi_);
}

std::unique_ptr<THttpRequest> THttpSession::OpenUrl(const std::string& url, const std::vector<std::string>& headers) {
    if (!multi_) return nullptr;
    auto request = std::make_unique<THttpRequest>(multi_, timeouts_, stopRequested_);
    certificateRefused_ = false;
    openFailure_ = THttpFailure::None;
    if (!request->Open(url, agent_, headers, caFile_)) {
        certificateRefused_ = request->result_ == CURLE_PEER_FAILED_VERIFICATION;
        openFailure_ = request->failure_ != THttpFailure::None ? request->failure_ : THttpFailure::Refused;
        return nullptr;
    }
    return request;
}

THttpRequest::THttpRequest(CURLM* multi, THttpTimeouts timeouts, THttpStopQuery stopRequested)
    : multi_(multi), timeouts_(timeouts), stopRequested_(std::move(stopRequested)), floor_(timeouts) {
    body_.resize(kBodyBuffer);
}

THttpRequest::~THttpRequest() {
    FinishReceivedBody();
    if (attached_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    curl_slist_free_all(requestHeaders_);
}

bool THttpRequest::Open(const std::string& url, const std::string& agent, const std::vector<std::string>& headers,
                        const std::string& caFile) {
    easy_ = curl_easy_init();
    if (!easy_) return false;
    // Always fetch from the origin server, never from a cache on the way.
    std::vector<std::string> lines{"Cache-Control: no-cache", "Pragma: no-cache"};
    lines.insert(lines.end(), headers.begin(), headers.end());
    for (const std::string& line : lines) {
        curl_slist* extended = curl_slist_append(requestHeaders_, line.c_str());
        if (!extended) return false;
        requestHeaders_ = extended;
    }
    bool configured =
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, requestHeaders_) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        // A secure address never leads to a plain one.
        curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, IsHttpsUrl(url) ? "https" : "http,https") == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count())) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        // A proxy's answer to CONNECT is not the response.
        curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, static_cast<long>(kTransferBuffer)) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &THttpRequest::OnHeader) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &THttpRequest::OnBody) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this) == CURLE_OK &&
        // Tell when a connection is being made and when it is made.
        curl_easy_setopt(easy_, CURLOPT_SOCKOPTFUNCTION, &THttpRequest::OnSocketMade) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_SOCKOPTDATA, this) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &THttpRequest::OnConnected) == CURLE_OK &&
        curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this) == CURLE_OK;
    if (configured && !caFile.empty()) configured = curl_easy_setopt(easy_, CURLOPT_CAINFO, caFile.c_str()) == CURLE_OK;
    if (!configured || curl_multi_add_handle(multi_, easy_) != CURLM_OK) return false;
    attached_ = true;

    DriveUntil([this] { return finalHeaders_; });
    // A response that is not followed further and has no body is final too
    // once the transfer has ended well.
    if (finalHeaders_ || (done_ && result_ == CURLE_OK && status_ != 0)) return true;
    // A response whose headers libcurl refused part way (an invalid
    // Content-Length, say) before any size was given tells only that it has
    // no usable size, and the item ends as such a response does. One refused
    // after its size would be stored short of it: a failed open.
    return inHeaderBlock_ && result_ == CURLE_WEIRD_SERVER_REPLY && !Header("Content-Length");
}

int64_t THttpRequest::Read(void* buffer, size_t count) {
    char* out = static_cast<char*>(buffer);
    size_t copied = 0;
    while (copied < count) {
        if (!HaveUnreadBody()) {
            readPos_ = writePos_ = 0;
            if (paused_) {
                paused_ = false;
                // Resuming may hand over the held-back chunk right here.
                CURLcode resumed = curl_easy_pause(easy_, CURLPAUSE_CONT);
                if (resumed != CURLE_OK) Fail(resumed, FailureOf(resumed));
            }
            if (!HaveUnreadBody() && !done_) DriveUntil([this] { return HaveUnreadBody(); });
            if (!HaveUnreadBody()) break;
        }
        size_t n = std::min(count - copied, writePos_ - readPos_);
        std::memcpy(out + copied, body_.data() + readPos_, n);
        readPos_ += n;
        copied += n;
    }
    if (copied == 0 && Failed()) return -1;
    return static_cast<int64_t>(copied);
}

// Only the time spent here waits for the network: the stall limit and the
// floor rate count it, once the connection is made.
template <typename Ready>
void THttpRequest::DriveUntil(Ready ready) {
    const Clock::time_point waitStart = Clock::now();
    Clock::time_point counted = waitStart;  // waiting up to here is on the floor's account
    while (!ready() && !done_) {
        int running = 0;
        CURLMcode performed = curl_multi_perform(multi_, &running);
        if (performed != CURLM_OK) {
            Fail(CURLE_FAILED_INIT, THttpFailure::Refused);
            break;
        }
        CollectResult();
        if (done_) break;
        const Clock::time_point now = Clock::now();
        // The wait that brought bytes counts too: a trickle ends every wait early.
        const bool keptUp = connecting_ || floor_.Waited(now - counted);
        counted = now;
        if (!keptUp) {
            Fail(CURLE_OPERATION_TIMEDOUT, THttpFailure::TooSlow);
            break;
        }
        if (ready()) break;
        auto wait = kMaxPoll;
        if (!connecting_) {
            auto idle = now - std::max(waitStart, lastByte_);
            if (idle >= timeouts_.stall) {
                Fail(CURLE_OPERATION_TIMEDOUT, THttpFailure::TimedOut);
                break;
            }
            wait = std::min(std::chrono::ceil<std::chrono::milliseconds>(floor_.WaitLeft(timeouts_.stall - idle)),
                            kMaxPoll);
        }
        curl_multi_poll(multi_, nullptr, 0, std::max(static_cast<int>(wait.count()), 1), nullptr);
        platform::ProcessMessages();
        if (stopRequested_ && stopRequested_()) {
            Fail(CURLE_ABORTED_BY_CALLBACK, THttpFailure::Stopped);
            break;
        }
    }
}

// A body read to its announced length may still be open to libcurl, which
// has yet to see its end (the last piece came while the transfer was
// paused). Removed then, the transfer closes its connection and the next
// request must open another; seen to its end, the connection serves the next.
void THttpRequest::FinishReceivedBody() {
    if (!attached_ || done_ || HaveUnreadBody()) return;
    curl_off_t announced = -1;
    curl_off_t received = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK ||
        curl_easy_getinfo(easy_, CURLINFO_SIZE_DOWNLOAD_T, &received) != CURLE_OK || announced < 0 ||
        received != announced) {
        return;
    }
    readPos_ = writePos_ = 0;
    if (paused_) {
        paused_ = false;
        if (curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) return;
    }
    // Bytes the reader left unread would pause it again: that body was not read whole.
    DriveUntil([this] { return paused_; });
}

void THttpRequest::CollectResult() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
            done_ = true;
            result_ = message->data.result;
            failure_ = FailureOf(result_);
        }
    }
}

void THttpRequest::Fail(CURLcode code, THttpFailure failure) {
    done_ = true;
    result_ = code;
    failure_ = failure;
}

std::optional<std::string> THttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers_)
        if (EqualNoCase(key, name)) return value;
    return std::nullopt;
}

bool THttpRequest::TakeHeaderLine(std::string_view line) {
    if (finalHeaders_) return true;  // trailers after a chunked body
    headerBytes_ += line.size();
    if (headerBytes_ > kMaxHeaderBytes) return false;
    if (line.starts_with("HTTP/")) {
        // Every response of a redirect chain starts afresh.
        status_ = ParseStatus(line);
        headers_.clear();
        inHeaderBlock_ = true;
        return true;
    }
    if (!inHeaderBlock_) return true;
    if (Trim(line).empty()) {
        inHeaderBlock_ = false;
        bool informational = status_ < 200;
        bool redirected = status_ >= 300 && status_ < 400 && Header("Location").has_value();
        finalHeaders_ = !informational && !redirected;
        return true;
    }
    size_t colon = line.find(':');
    if (colon != std::string_view::npos)
        headers_.emplace_back(std::string(Trim(line.substr(0, colon))), std::string(Trim(line.substr(colon + 1))));
    return true;
}

size_t THttpRequest::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<THttpRequest*>(self);
    request->lastByte_ = Clock::now();
    request->floor_.Received(size * count);
    // Taking less than offered makes libcurl abandon the transfer.
    return request->TakeHeaderLine(std::string_view(data, size * count)) ? size * count : 0;
}

size_t THttpRequest::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<THttpRequest*>(self);
    const size_t length = size * count;
    request->lastByte_ = Clock::now();
    request->floor_.Received(length);
    // libcurl hands over no body of a response it follows: this one is final,
    // whatever its status (a redirect with nothing to follow, say).
    request->finalHeaders_ = true;
    return request->StoreBody(data, length) ? length : CURL_WRITEFUNC_PAUSE;
}

int THttpRequest::OnSocketMade(void* self, curl_socket_t, curlsocktype) {
    static_cast<THttpRequest*>(self)->connecting_ = true;
    return CURL_SOCKOPT_OK;
}

// Called once the connection is made (its TLS handshake and a proxy's tunnel
// included), or an open one is taken again, just before the request is sent.
int THttpRequest::OnConnected(void* self, char*, char*, int, int) {
    auto* request = static_cast<THttpRequest*>(self);
    request->connecting_ = false;
    request->lastByte_ = Clock::now();
    return CURL_PREREQFUNC_OK;
}

bool THttpRequest::StoreBody(const char* data, size_t length) {
    // libcurl only writes while Read waits on an emptied buffer, so the unread
    // bytes always start at the front and never need moving.
    if (body_.size() - writePos_ < length) {
        // An empty buffer takes any chunk, so a chunk larger than the buffer
        // cannot block the transfer; otherwise the transfer waits for the reader.
        if (HaveUnreadBody()) {
            paused_ = true;
            return false;
        }
        body_.resize(writePos_ + length);
    }
    std::memcpy(body_.data() + writePos_, data, length);
    writePos_ += length;
    return true;
}
