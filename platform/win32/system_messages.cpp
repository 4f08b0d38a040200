#include "platform/message_pump.h"

#include <windows.h>

namespace platform {

void PumpSystemMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

}  // namespace platform
