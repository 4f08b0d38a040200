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
