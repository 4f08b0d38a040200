#include "app/core/download_retry.h"

#include <algorithm>

#include "download/download_item.h"

TDownloadRetry::TDownloadRetry(TRetryPolicy policy) : policy_(policy), random_(std::random_device{}()) {}

bool TDownloadRetry::IsTransient(const TDownLoadItem& item, int64_t bytesArrived) {
    const int status = item.StatusCode();
    if (status == 0) return true;  // no answer, or the connection broke before one
    if (status >= 500 || status == 408 || status == 429) return true;
    // A good answer whose body stopped short.
    return status >= 200 && status < 300 && item.FileSize() > 0 && bytesArrived < item.FileSize();
}

std::optional<std::chrono::milliseconds> TDownloadRetry::Next(bool madeProgress, const std::string& retryAfter) {
    if (madeProgress) retries_ = 0;
    if (retries_ >= policy_.maxRetries) return std::nullopt;
    ++retries_;
    if (const std::optional<std::chrono::milliseconds> asked = ParseRetryAfter(retryAfter))
        return std::min(*asked, policy_.maxRetryAfter);
    const double base = static_cast<double>(policy_.firstDelay.count()) * static_cast<double>(1 << (retries_ - 1));
    std::uniform_real_distribution<double> spread(1.0 - policy_.jitter, 1.0 + policy_.jitter);
    return std::chrono::milliseconds(static_cast<int64_t>(base * spread(random_)));
}

std::optional<std::chrono::milliseconds> TDownloadRetry::ParseRetryAfter(const std::string& text) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::chrono::seconds(std::stoll(text));
}
