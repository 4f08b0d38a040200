#include "platform/resource_usage.h"

#include <sys/resource.h>

namespace platform {

uint64_t PeakResidentBytes() {
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    // Linux reports kilobytes.
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

}  // namespace platform
