#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

class TDownLoadItem;

// How often, and after how long, a download that failed on the way is tried
// again.
struct TRetryPolicy {
    int maxRetries = 0;                            // per run, counted afresh after an attempt that made progress
    std::chrono::milliseconds firstDelay{1000};    // doubled for each further retry
    std::chrono::milliseconds maxRetryAfter{60000};  // a server's Retry-After is honoured up to this
    double jitter = 0.2;                           // each delay is moved by up to this share either way

    static TRetryPolicy None() { return {}; }
    // 1, 2, 4, 8 and 16 s, each ± 20 %.
    static TRetryPolicy Standard() { return {5, std::chrono::milliseconds(1000), std::chrono::milliseconds(60000), 0.2}; }
};

// The retries of one update run: which failures deserve one, and the wait
// before it. Only failures the network may mend are retried: no answer, a
// broken or stalled transfer, 5xx, 408 and 429; never another 4xx.
class TDownloadRetry {
public:
    explicit TDownloadRetry(TRetryPolicy policy = TRetryPolicy::None());

    // Whether the item's attempt, which brought it to `bytesArrived`, failed
    // in a way another attempt may mend.
    static bool IsTransient(const TDownLoadItem& item, int64_t bytesArrived);

    // After a transient failure: the wait before the next attempt, or nothing
    // when every retry is spent. An attempt that received bytes (`madeProgress`)
    // starts the count again.
    std::optional<std::chrono::milliseconds> Next(bool madeProgress, const std::string& retryAfter);
    // The retry being waited for, from 1.
    int Count() const { return retries_; }
    int Max() const { return policy_.maxRetries; }
    // A new run (a Restart) has every retry again.
    void Reset() { retries_ = 0; }

    // Seconds of a Retry-After header as a wait; nothing for a date or junk.
    static std::optional<std::chrono::milliseconds> ParseRetryAfter(const std::string& text);

private:
    TRetryPolicy policy_;
    int retries_ = 0;
    std::mt19937 random_;
};
