#include <gtest/gtest.h>

#include <windows.h>

#include "platform/message_pump.h"

// The native pump empties the thread's message queue.
TEST(Win32MessagePump, PumpTakesEveryWaitingMessage) {
    ASSERT_TRUE(::PostThreadMessageW(::GetCurrentThreadId(), WM_USER + 1, 0, 0));
    ASSERT_TRUE(::PostThreadMessageW(::GetCurrentThreadId(), WM_USER + 2, 0, 0));
    platform::PumpSystemMessages();
    MSG left;
    EXPECT_FALSE(::PeekMessageW(&left, nullptr, 0, 0, PM_NOREMOVE));
}
