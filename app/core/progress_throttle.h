#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

// Decides which of a fast stream of progress events the window is told of:
// at most one per interval (about 30 a second by default), and always the
// last one of an item, so that a download's time goes to the download and
// not to formatting and painting figures no eye can follow.
class TProgressThrottle {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit TProgressThrottle(std::chrono::milliseconds interval = std::chrono::milliseconds(33),
                               Clock clock = [] { return std::chrono::steady_clock::now(); })
        : interval_(interval), clock_(std::move(clock)) {}

    void SetInterval(std::chrono::milliseconds interval) { interval_ = interval; }
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    // A new item: its first event is shown.
    void Restart() { shown_.reset(); }
    // Whether this event is to be shown; `last` marks an item's last bytes.
    bool Due(bool last) {
        const auto now = clock_();
        if (!last && shown_ && now - *shown_ < interval_) return false;
        shown_ = now;
        return true;
    }

private:
    std::chrono::milliseconds interval_;
    Clock clock_;
    std::optional<std::chrono::steady_clock::time_point> shown_;
};
