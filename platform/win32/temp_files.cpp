#include "platform/temp_files.h"

#include <windows.h>

#include "platform/file_system.h"
#include "platform/win32/wide_text.h"

namespace platform {

std::string TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::string folder = length > 0 && length <= MAX_PATH ? Narrow(std::wstring_view(buffer, length)) : ".";
    if (folder.back() != kPathSeparator) folder += kPathSeparator;
    return folder;
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
    // The system takes up to three characters of the prefix and adds a hex number.
    wchar_t name[MAX_PATH];
    if (::GetTempFileNameW(Widen(folder).c_str(), Widen(prefix).c_str(), 0, name) == 0) return {};
    return Narrow(name);
}

}  // namespace platform
