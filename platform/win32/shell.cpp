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

bool RestartElevated(const std::string& arguments) {
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return false;
    const std::wstring parameters = Widen(arguments);
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_NOASYNC;
    request.lpVerb = L"runas";  // the system asks the user for consent
    request.lpFile = self;
    request.lpParameters = parameters.c_str();
    request.nShow = SW_SHOWNORMAL;
    return ::ShellExecuteExW(&request) != FALSE;
}

}  // namespace platform
