#include "platform/message_pump.h"

namespace platform {

// No system message queue here: the GUI toolkit pumps its own events.
void PumpSystemMessages() {}

}  // namespace platform
