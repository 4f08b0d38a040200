#include "platform/file_times.h"

#include <windows.h>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_handle.h"

namespace platform {
namespace {

bool ToFileTime(const LocalDateTime& time, FILETIME& universal) {
    SYSTEMTIME local {};
    local.wYear = static_cast<WORD>(time.year);
    local.wMonth = static_cast<WORD>(time.month);
    local.wDay = static_cast<WORD>(time.day);
    local.wHour = static_cast<WORD>(time.hour);
    local.wMinute = static_cast<WORD>(time.minute);
    local.wSecond = static_cast<WORD>(time.second);
    FILETIME localTime;
    return ::SystemTimeToFileTime(&local, &localTime) && ::LocalFileTimeToFileTime(&localTime, &universal);
}

// File times count 100 ns steps from 1601-01-01, 11644473600 s before 1970.
FILETIME ToFileTime(const UtcFileTime& time) {
    const uint64_t ticks = static_cast<uint64_t>(time.seconds + 11644473600LL) * 10000000u + time.nanoseconds / 100u;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Nanoseconds since 1970 from file-time ticks.
int64_t ToNanoseconds(const FILETIME& time) {
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (ticks - 11644473600LL * 10000000) * 100;
}

// A folder needs backup semantics to be opened; a link is stamped itself.
bool SetPathTime(const std::string& path, const FILETIME& time) {
    HANDLE handle = ::CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool stamped = ::SetFileTime(handle, nullptr, nullptr, &time) != 0;
    ::CloseHandle(handle);
    return stamped;
}

}  // namespace

bool SetFileWriteTime(int handle, const LocalDateTime& time) {
    FILETIME universal;
    return ToFileTime(time, universal) && ::SetFileTime(FromIntHandle(handle), nullptr, nullptr, &universal) != 0;
}

bool SetFileWriteTimeUtc(int handle, const UtcFileTime& time) {
    const FILETIME universal = ToFileTime(time);
    return ::SetFileTime(FromIntHandle(handle), nullptr, nullptr, &universal) != 0;
}

bool SetPathWriteTimeUtc(const std::string& path, const UtcFileTime& time) { return SetPathTime(path, ToFileTime(time)); }

bool SetPathWriteTime(const std::string& path, const LocalDateTime& time) {
    FILETIME universal;
    return ToFileTime(time, universal) && SetPathTime(path, universal);
}

std::optional<FileStamp> StampOf(const std::string& path) {
    // Opened for its attributes only, which no other process's sharing mode
    // refuses; a link is opened itself.
    const HANDLE handle = ::CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION file;
    FILE_BASIC_INFO basic;
    const bool read = ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &file) &&
                      ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic);
    ::CloseHandle(handle);
    // Symbolic links and junctions are reparse points; devices report as such.
    if (!read ||
        (file.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
        return std::nullopt;
    const FILETIME changeTime{static_cast<DWORD>(basic.ChangeTime.QuadPart),
                              static_cast<DWORD>(static_cast<uint64_t>(basic.ChangeTime.QuadPart) >> 32)};
    return FileStamp{.size = (static_cast<uint64_t>(file.nFileSizeHigh) << 32) | file.nFileSizeLow,
                     .writeTimeNs = ToNanoseconds(file.ftLastWriteTime),
                     .changeTimeNs = ToNanoseconds(changeTime),
                     .volume = file.dwVolumeSerialNumber,
                     .fileId = (static_cast<uint64_t>(file.nFileIndexHigh) << 32) | file.nFileIndexLow,
                     .attributes = static_cast<uint32_t>(file.dwFileAttributes & FILE_ATTRIBUTE_READONLY)};
}

int64_t CurrentFileTimeNs() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return ToNanoseconds(now);
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
