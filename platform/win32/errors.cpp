#include "platform/errors.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

int LastError() { return static_cast<int>(::GetLastError()); }

void SetLastError(int code) { ::SetLastError(static_cast<DWORD>(code)); }

std::string ErrorText(int code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", length);
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    if (text.empty()) return "error " + std::to_string(code);
    return Narrow(text);
}

}  // namespace platform
