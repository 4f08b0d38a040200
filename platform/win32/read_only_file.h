#pragma once

#include <windows.h>

namespace platform {

// True, with "access denied" as the last error, when `attributes` (from
// GetFileAttributesW) are those of an existing read-only file: such a file is
// never rewritten, also where the system would let a privileged user do it.
inline bool RefuseReadOnlyFile(DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

}  // namespace platform
