#include "platform/clock.h"
#include "platform/message_pump.h"

#include <gtest/gtest.h>

TEST(MessagePump, CallsTheInstalledHookAndIsANoOpWithout) {
    int calls = 0;
    platform::SetMessagePump([&] { ++calls; });
    platform::ProcessMessages();
    platform::ProcessMessages();
    EXPECT_EQ(calls, 2);
    platform::SetMessagePump(nullptr);
    platform::ProcessMessages();
    EXPECT_EQ(calls, 2);
}

TEST(Clock, SleepBlocksAtLeastTheGivenTime) {
    uint32_t before = platform::TickCount();
    platform::Sleep(30);
    EXPECT_GE(static_cast<uint32_t>(platform::TickCount() - before), 30u);
}
