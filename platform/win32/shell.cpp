#include "platform/shell.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/wide_text.h"

namespace platform {

bool ShellOpen(const std::string& path) {
    // The shell reports success with a value above 32.
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", Widen(path).c_str(), nullptr, nullptr, SW_SHOW));
    return result > 32;
}

}  // namespace platform
