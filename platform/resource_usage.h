#pragma once

#include <cstdint>

namespace platform {

// The largest resident memory this process has had so far, in bytes; 0 when
// the system cannot tell.
uint64_t PeakResidentBytes();

}  // namespace platform
