#pragma once

#include <functional>

namespace platform {

// Long blocking calls stay responsive by pumping the caller's pending events
// here. The GUI installs its event processing; elsewhere this is a no-op.
void SetMessagePump(std::function<void()> pump);
void ProcessMessages();

// Dispatches every window message waiting for the calling thread, for a GUI
// made of native windows to install as its pump. A no-op where the GUI
// toolkit pumps its own events.
void PumpSystemMessages();

}  // namespace platform
