#include "platform/file_handle.h"

#include <windows.h>

#include "platform/win32/file_access.h"
#include "platform/win32/read_only_file.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_handle.h"

namespace platform {
namespace {

DWORD ShareMode(FileShare share) {
    switch (share) {
        case FileShare::Exclusive: return 0;
        case FileShare::DenyWrite: return FILE_SHARE_READ;
        case FileShare::DenyRead: return FILE_SHARE_WRITE;
        default: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
}

// Reads and writes move at most this much per call: the system's counts are 32-bit.
constexpr size_t kMaxTransfer = 1u << 30;

}  // namespace

int OpenFileHandle(const std::string& path, FileAccess access, FileShare share) {
    HANDLE handle = ::CreateFileW(Widen(path).c_str(), DesiredAccess(access), ShareMode(share), nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return ToIntHandle(handle);
}

int CreateFileHandle(const std::string& path) {
    const std::wstring name = Widen(path);
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (RefuseReadOnlyFile(attributes)) return -1;
    // Never through a symbolic link or junction: an extracted file must land
    // where its name says.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return -1;
    }
    // Without sharing: nobody reads a half-written output file.
    HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    return ToIntHandle(handle);
}

bool CloseFileHandle(int handle) { return ::CloseHandle(FromIntHandle(handle)) != 0; }

int64_t ReadFileHandle(int handle, void* buffer, size_t count) {
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(count < kMaxTransfer ? count : kMaxTransfer);
    if (!::ReadFile(FromIntHandle(handle), buffer, wanted, &got, nullptr)) return -1;
    return got;
}

int64_t WriteFileHandle(int handle, const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t left = count - done;
        DWORD written = 0;
        if (!::WriteFile(FromIntHandle(handle), p + done, static_cast<DWORD>(left < kMaxTransfer ? left : kMaxTransfer),
                         &written, nullptr))
            return done ? static_cast<int64_t>(done) : -1;
        if (written == 0) break;
        done += written;
    }
    return static_cast<int64_t>(done);
}

int64_t SeekFileHandle(int handle, int64_t offset, SeekOrigin origin) {
    const DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(FromIntHandle(handle), distance, &position, method)) return -1;
    return position.QuadPart;
}

bool SetEndOfFileHandle(int handle) { return ::SetEndOfFile(FromIntHandle(handle)) != 0; }

int64_t FileHandleSize(int handle) {
    LARGE_INTEGER size;
    return ::GetFileSizeEx(FromIntHandle(handle), &size) ? size.QuadPart : -1;
}

bool SetFileHandleSize(int handle, int64_t size) {
    const int64_t position = SeekFileHandle(handle, 0, SeekOrigin::Current);
    if (position < 0 || SeekFileHandle(handle, size, SeekOrigin::Begin) < 0) return false;
    const bool cut = SetEndOfFileHandle(handle);
    const DWORD error = ::GetLastError();
    SeekFileHandle(handle, position, SeekOrigin::Begin);
    ::SetLastError(error);
    return cut;
}

bool IsDiskFullError(int errorCode) { return errorCode == ERROR_DISK_FULL || errorCode == ERROR_HANDLE_DISK_FULL; }

bool IsNotFoundError(int errorCode) { return errorCode == ERROR_FILE_NOT_FOUND || errorCode == ERROR_PATH_NOT_FOUND; }

}  // namespace platform
