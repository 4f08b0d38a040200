#include "platform/resource_usage.h"

#include <windows.h>
#include <psapi.h>

namespace platform {

uint64_t PeakResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters {};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

}  // namespace platform
