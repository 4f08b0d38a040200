#pragma once

#include <windows.h>

#include "platform/file_handle.h"

namespace platform {

// The rights a handle is opened with for each way of access.
inline DWORD DesiredAccess(FileAccess access) {
    switch (access) {
        case FileAccess::Read: return GENERIC_READ;
        case FileAccess::Write: return GENERIC_WRITE;
        default: return GENERIC_READ | GENERIC_WRITE;
    }
}

}  // namespace platform
