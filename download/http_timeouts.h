#pragma once

#include <chrono>
#include <functional>

// How long a transfer may wait before it counts as failed.
struct THttpTimeouts {
    std::chrono::milliseconds connect{60000};  // to establish the connection
    std::chrono::milliseconds stall{60000};    // without receiving a single byte
};

// Asked while a transfer waits for the network: true ends the wait at once,
// and the open or read fails.
using THttpStopQuery = std::function<bool()>;
