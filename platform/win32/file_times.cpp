#include "platform/file_times.h"

#include <windows.h>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_handle.h"

namespace platform {

bool SetFileWriteTime(int handle, const LocalDateTime& time) {
    SYSTEMTIME local {};
    local.wYear = static_cast<WORD>(time.year);
    local.wMonth = static_cast<WORD>(time.month);
    local.wDay = static_cast<WORD>(time.day);
    local.wHour = static_cast<WORD>(time.hour);
    local.wMinute = static_cast<WORD>(time.minute);
    local.wSecond = static_cast<WORD>(time.second);
    FILETIME localTime, universal;
    if (!::SystemTimeToFileTime(&local, &localTime) || !::LocalFileTimeToFileTime(&localTime, &universal)) return false;
    return ::SetFileTime(FromIntHandle(handle), nullptr, nullptr, &universal) != 0;
}

bool GetFileCreationTime(const std::string& path, LocalDateTime& time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return false;
    FILETIME local;
    SYSTEMTIME parts;
    if (!::FileTimeToLocalFileTime(&data.ftCreationTime, &local) || !::FileTimeToSystemTime(&local, &parts))
        return false;
    time = {parts.wYear, parts.wMonth, parts.wDay, parts.wHour, parts.wMinute, parts.wSecond};
    return true;
}

}  // namespace platform
