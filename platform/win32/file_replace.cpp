#include "platform/file_replace.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

bool MoveReplacing(const std::string& from, const std::string& to) {
    return ::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
           0;
}

int64_t FreeSpaceOf(const std::string& path) {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(Widen(path).c_str(), &available, nullptr, nullptr)) return -1;
    return static_cast<int64_t>(available.QuadPart);
}

// A rename needs delete access, which any handle opened without delete
// sharing denies. Asking for delete access while sharing everything else
// finds exactly those holders, and lets the running updater's own image
// (mapped with delete sharing) be replaced.
bool CanOpenForDeletion(const std::string& path) {
    const HANDLE file = ::CreateFileW(Widen(path).c_str(), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

bool SetHiddenAttribute(const std::string& path) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return ::SetFileAttributesW(wide.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN) != 0;
}

}  // namespace platform
