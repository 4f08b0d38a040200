#include "app/core/download_retry.h"

#include <algorithm>
#include <utility>

#include "download/download_item.h"

TDownloadRetry::TDownloadRetry(TRetryPolicy policy, Clock clock)
    : policy_(policy), clock_(std::move(clock)), attemptStart_(clock_()), random_(std::random_device{}()) {}

void TDownloadRetry::Reset() {
    retries_ = 0;
    withoutProgress_ = {};
    attemptStart_ = clock_();
}

bool TDownloadRetry::IsTransient(const TDownLoadItem& item, int64_t bytesArrived) {
    const int status = item.StatusCode();
    if (status == 0) return true;  // no answer, or the connection broke before one
    if (status >= 500 || status == 408 || status == 429) return true;
    // A good answer whose body stopped short.
    return status >= 200 && status < 300 && item.FileSize() > 0 && bytesArrived < item.FileSize();
}

std::optional<std::chrono::milliseconds> TDownloadRetry::Next(bool madeProgress, const std::string& retryAfter) {
    const auto now = clock_();
    if (madeProgress) {
        retries_ = 0;
        withoutProgress_ = {};
    } else {
        withoutProgress_ += std::max<std::chrono::steady_clock::duration>(now - attemptStart_, {});
    }
    if (retries_ >= policy_.maxRetries || withoutProgress_ >= policy_.giveUpAfter) return std::nullopt;
    ++retries_;
    std::chrono::milliseconds delay;
    if (const std::optional<std::chrono::milliseconds> asked = ParseRetryAfter(retryAfter)) {
        delay = std::min(*asked, policy_.maxRetryAfter);
    } else {
        const double base = static_cast<double>(policy_.firstDelay.count()) * static_cast<double>(1 << (retries_ - 1));
        std::uniform_real_distribution<double> spread(1.0 - policy_.jitter, 1.0 + policy_.jitter);
        delay = std::chrono::milliseconds(static_cast<int64_t>(base * spread(random_)));
    }
    attemptStart_ = now + delay;
    return delay;
}

std::optional<std::chrono::milliseconds> TDownloadRetry::ParseRetryAfter(const std::string& text) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::chrono::seconds(std::stoll(text));
}
