#pragma once

#include <cstdint>

namespace platform {

// Blocks the calling thread; events are not pumped meanwhile.
void Sleep(uint32_t milliseconds);

// Milliseconds since an arbitrary start, wrapping modulo 2^32 like a tick count.
uint32_t TickCount();

}  // namespace platform
