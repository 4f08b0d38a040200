#pragma once

#include <windows.h>

namespace platform {

// Kernel handles carry only 32 significant bits, even in 64-bit processes, so
// the portable layer's int handles hold them; -1 stays the invalid handle.
inline int ToIntHandle(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? -1 : ::HandleToLong(handle); }
inline HANDLE FromIntHandle(int handle) { return handle < 0 ? INVALID_HANDLE_VALUE : ::LongToHandle(handle); }

}  // namespace platform
