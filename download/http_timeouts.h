#pragma once

#include <chrono>

// How long a transfer may wait before it counts as failed.
struct THttpTimeouts {
    std::chrono::milliseconds connect{60000};  // to establish the connection
    std::chrono::milliseconds stall{60000};    // without receiving a single byte
};
