#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

// True when the test runs under Wine rather than Windows itself: a few
// limits of the system are not applied there.
inline bool RunningUnderWine() {
#ifdef _WIN32
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Wine's WinINet accepts a receive limit and never applies it. The transfer
// bounds a read by the stall limit itself, but an open only by the connect and
// stall limits together, since it cannot tell when the connection was made.
#define SKIP_WITHOUT_RECEIVE_LIMIT() \
    if (RunningUnderWine()) GTEST_SKIP() << "Wine's WinINet does not apply the receive limit to an open"
