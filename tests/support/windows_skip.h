#pragma once

#include <gtest/gtest.h>

// True in the Windows build, where some tests of POSIX-only mechanisms
// (symbolic links, file modes, tmpfs, /proc) have nothing to test.
#ifdef _WIN32
inline constexpr bool kWindowsBuild = true;
#else
inline constexpr bool kWindowsBuild = false;
#endif

// Skips the current test in the Windows build, giving the reason.
#define SKIP_ON_WINDOWS(reason) \
    if (kWindowsBuild) GTEST_SKIP() << (reason)
