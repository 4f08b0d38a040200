#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

// How long a transfer may wait before it counts as failed.
struct THttpTimeouts {
    std::chrono::milliseconds connect{60000};  // to establish the connection
    // Without receiving a single byte, once the connection was made: the
    // wait for the response's headers included.
    std::chrono::milliseconds stall{30000};
    // The slowest a transfer may go: at least this many bytes per second
    // over every `floorWindow` of waiting for the network (a server that
    // drips a byte now and then ends as a stalled one does). 0 sets no floor.
    int64_t floorBytesPerSecond = 1024;
    std::chrono::milliseconds floorWindow{60000};
};

// Asked while a transfer waits for the network: true ends the wait at once,
// and the open or read fails.
using THttpStopQuery = std::function<bool()>;

// Why an open or a read of a transfer failed.
enum class THttpFailure {
    None,
    Refused,   // no connection or no usable answer: refused, unreachable, not HTTP, redirects, certificate
    TimedOut,  // the connect or the stall limit ran out
    TooSlow,   // the bytes of a window of waiting came to less than the floor rate
    Broken,    // the connection ended before the answer did
    Stopped,   // the caller asked to stop
};

// Measures a transfer against the floor rate of its THttpTimeouts. Only the
// time spent waiting for the network counts: a reader that takes its time
// over the bytes it got (the transfer paused meanwhile) does not make the
// server slow. The waits are counted in windows of `floorWindow`; a window
// that closes with fewer bytes than the floor rate over it ends the transfer.
class TRateFloor {
public:
    using Duration = std::chrono::steady_clock::duration;

    explicit TRateFloor(const THttpTimeouts& timeouts)
        : window_(timeouts.floorWindow),
          needed_(timeouts.floorBytesPerSecond > 0 && timeouts.floorWindow.count() > 0
                      ? timeouts.floorBytesPerSecond * timeouts.floorWindow.count() / 1000
                      : 0) {}

    void Received(size_t bytes) { windowBytes_ += static_cast<int64_t>(bytes); }

    // Adds time spent waiting; false once a window closed short of the floor.
    bool Waited(Duration waited) {
        if (needed_ <= 0 || below_) return !below_;
        windowWaited_ += waited;
        if (windowWaited_ < window_) return true;
        if (windowBytes_ < needed_) {
            below_ = true;
            return false;
        }
        windowWaited_ = Duration::zero();
        windowBytes_ = 0;
        return true;
    }

    bool Below() const { return below_; }

    // How long the next wait may last before the window closes short of the
    // floor; `limit` when the window has its bytes already, or there is no floor.
    Duration WaitLeft(Duration limit) const {
        if (needed_ <= 0 || windowBytes_ >= needed_) return limit;
        return std::clamp<Duration>(window_ - windowWaited_, Duration::zero(), limit);
    }

private:
    Duration window_;
    int64_t needed_;  // bytes per window; 0: no floor
    Duration windowWaited_{};
    int64_t windowBytes_ = 0;
    bool below_ = false;
};
