// The companion process found by its name in the Tool Help snapshot and
// stopped, with a stand-in QuendalM.exe started for the test.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/process_helpers.h"
#include "platform/clock.h"

namespace {

class StandIn {
public:
    StandIn() {
        std::wstring command = L"\"" + std::wstring(QUENDAL_M_STANDIN) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                    &process_) != 0;
    }
    ~StandIn() {
        if (!started_) return;
        // Stopped here too when the test failed before stopping it.
        if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.hProcess, 1);
        ::WaitForSingleObject(process_.hProcess, 10000);
        ::CloseHandle(process_.hThread);
        ::CloseHandle(process_.hProcess);
    }
    bool Started() const { return started_; }
    bool EndsWithin(DWORD milliseconds) const {
        return ::WaitForSingleObject(process_.hProcess, milliseconds) == WAIT_OBJECT_0;
    }

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

TEST(Win32CompanionProcess, FoundByNameAnyCaseAndStopped) {
    EXPECT_FALSE(IsProcessRunning("QuendalM.exe"));
    StandIn standIn;
    ASSERT_TRUE(standIn.Started());
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = IsProcessRunning("quendalm.EXE");
        if (!seen) platform::Sleep(50);
    }
    ASSERT_TRUE(seen);
    EXPECT_TRUE(KillProcessByName("QuendalM.exe"));
    EXPECT_TRUE(standIn.EndsWithin(10000));
    EXPECT_FALSE(KillProcessByName("QuendalM.exe"));
}

}  // namespace
