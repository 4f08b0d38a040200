#pragma once

#include "download/http_timeouts.h"

#include <chrono>
#include <functional>
#include <memory>

// Waits for calls that block inside the system (WinINet's synchronous calls)
// without blocking the caller: each call runs on a thread of the waiter's,
// while the caller pumps its messages and asks whether to stop. Closing a
// handle does not end a pending call on every system (Wine's goes on until
// the connection ends), so a wait that is given up leaves its call to finish
// on that thread, and the next call gets a fresh thread.
class TBlockingCallWaiter {
public:
    explicit TBlockingCallWaiter(THttpStopQuery stopRequested);
    ~TBlockingCallWaiter();
    TBlockingCallWaiter(const TBlockingCallWaiter&) = delete;
    TBlockingCallWaiter& operator=(const TBlockingCallWaiter&) = delete;

    // Runs `call` and waits for it, pumping messages at least every 50 ms.
    // False when a stop request or `limit` ended the wait first; `call` then
    // goes on by itself, and `abandoned` runs on its thread once it returns
    // (to release what it made). Whatever the two use must be shared with
    // them, not borrowed from the caller.
    bool Run(std::function<void()> call, std::function<void()> abandoned, std::chrono::milliseconds limit);
    // The same with a deadline that may move while the call runs: asked at
    // every pump.
    using Deadline = std::function<std::chrono::steady_clock::time_point()>;
    bool Run(std::function<void()> call, std::function<void()> abandoned, const Deadline& deadline);

private:
    struct Shared;
    void StartThread();

    std::shared_ptr<Shared> shared_;  // null once a wait was given up
    THttpStopQuery stopRequested_;
};
