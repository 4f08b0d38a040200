#include "platform/local_time.h"

namespace platform {

LocalDateTime CurrentLocalTime() { return CurrentZonedLocalTime().time; }

}  // namespace platform
