#include "platform/message_pump.h"

#include <utility>

namespace platform {
namespace {
std::function<void()>& Pump() {
    static std::function<void()> pump;
    return pump;
}
}  // namespace

void SetMessagePump(std::function<void()> pump) { Pump() = std::move(pump); }

void ProcessMessages() {
    if (auto& pump = Pump()) pump();
}

}  // namespace platform
