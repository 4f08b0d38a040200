#pragma once

#include <windows.h>

namespace platform {

// The head of the reparse data of a symbolic link or a mount point
// (junction), as FSCTL_GET_REPARSE_POINT returns it and FSCTL_SET_REPARSE_POINT
// takes it; the user-mode headers do not declare it. A symbolic link has a
// flags word after it, a mount point none; then the path buffer, in which the
// offsets count.
struct LinkReparseHeader {
    ULONG tag;
    USHORT dataLength;  // of what follows the first 8 bytes
    USHORT reserved;
    USHORT substituteOffset;
    USHORT substituteLength;
    USHORT printOffset;
    USHORT printLength;
};

}  // namespace platform
