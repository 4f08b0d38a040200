#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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
    // No attempt starts once the failed attempts since the last one that
    // made progress have taken this long together (the waits between them
    // not counted): a server that never answers, or drips, gets its final
    // answer within about two minutes.
    std::chrono::milliseconds giveUpAfter{100000};

    static TRetryPolicy None() { return {}; }
    // 1, 2, 4, 8 and 16 s, each ± 20 %, and no attempt after 100 s of attempts without progress.
    static TRetryPolicy Standard() {
        return {5, std::chrono::milliseconds(1000), std::chrono::milliseconds(60000), 0.2,
                std::chrono::milliseconds(100000)};
    }
};

// The retries of one update run: which failures deserve one, and the wait
// before it. Only failures the network may mend are retried: no answer, a
// broken, stalled or too slow transfer, 5xx, 408 and 429; never another 4xx.
class TDownloadRetry {
public:
    // The clock attempts are timed on; tests set their own.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit TDownloadRetry(TRetryPolicy policy = TRetryPolicy::None(),
                            Clock clock = [] { return std::chrono::steady_clock::now(); });

    // Whether the item's attempt, which brought it to `bytesArrived`, failed
    // in a way another attempt may mend.
    static bool IsTransient(const TDownLoadItem& item, int64_t bytesArrived);

    // After a transient failure: the wait before the next attempt, or nothing
    // when every retry is spent, or when the attempts without progress have
    // taken the policy's giveUpAfter. An attempt that made progress (file
    // bytes beyond any attempt's before, and not a trickle that fell below
    // the transfer's floor rate) starts both counts again. An attempt is
    // timed from the run's start, or the end of the wait before it, to this
    // call.
    std::optional<std::chrono::milliseconds> Next(bool madeProgress, const std::string& retryAfter);
    // The retry being waited for, from 1.
    int Count() const { return retries_; }
    int Max() const { return policy_.maxRetries; }
    // A new run (a Restart) has every retry again; its first attempt starts now.
    void Reset();

    // Seconds of a Retry-After header as a wait; nothing for a date or junk.
    static std::optional<std::chrono::milliseconds> ParseRetryAfter(const std::string& text);

private:
    TRetryPolicy policy_;
    Clock clock_;
    int retries_ = 0;
    // The attempts since the last that made progress, together.
    std::chrono::steady_clock::duration withoutProgress_{};
    std::chrono::steady_clock::time_point attemptStart_;
    std::mt19937 random_;
};
