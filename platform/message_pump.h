#pragma once

#include <functional>

namespace platform {

// Long blocking calls stay responsive by pumping the caller's pending events
// here. The GUI installs its event processing; elsewhere this is a no-op.
void SetMessagePump(std::function<void()> pump);
void ProcessMessages();

}  // namespace platform
