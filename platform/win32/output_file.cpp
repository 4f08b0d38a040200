#include "platform/output_file.h"

#include <windows.h>

#include <cstdio>

#include "platform/file_system.h"
#include "platform/win32/read_only_file.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_handle.h"

namespace platform {
namespace {

// Without sharing: nobody reads a half-written output file.
HANDLE CreateNew(const std::string& path) {
    return ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool AlreadyExists(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

// The old file, open for writing, when it may be replaced: what another
// program holds open is refused before anything is written, and so is what
// creating over it would refuse (read-only, hidden, system, a folder, a link
// or junction, which is opened itself and never followed).
HANDLE OpenOldFile(const std::string& path) {
    HANDLE old = ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (old == INVALID_HANDLE_VALUE || ::GetFileType(old) != FILE_TYPE_DISK) return old;
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD refusal = ERROR_SUCCESS;
    if (!::GetFileInformationByHandle(old, &info))
        refusal = ::GetLastError();
    else if (RefuseReadOnlyFile(info.dwFileAttributes))
        refusal = ERROR_ACCESS_DENIED;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = ERROR_CANT_ACCESS_FILE;
    else if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        refusal = ERROR_ACCESS_DENIED;
    if (refusal == ERROR_SUCCESS) return old;
    ::CloseHandle(old);
    ::SetLastError(refusal);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

OutputFile CreateOutputFile(const std::string& path) {
    OutputFile file;
    file.handle = ToIntHandle(CreateNew(path));
    if (file.handle >= 0 || !AlreadyExists(::GetLastError())) return file;
    HANDLE old = OpenOldFile(path);
    if (old == INVALID_HANDLE_VALUE) return file;
    if (::GetFileType(old) != FILE_TYPE_DISK) {
        // A device has no content to keep: it is written as it is.
        file.kind = OutputKind::InPlace;
        file.handle = ToIntHandle(old);
        return file;
    }
    ::CloseHandle(old);

    const std::string folder = path.substr(0, path.find_last_of(kPathSeparators) + 1);
    static unsigned counter = 0;
    const unsigned long long seed = ::GetTickCount64() ^ (static_cast<unsigned long long>(::GetCurrentProcessId()) << 20);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%08llx.tmp", (seed + ++counter) & 0xFFFFFFFFull);
        const std::string replacement = folder + ".quendal-" + suffix;
        file.handle = ToIntHandle(CreateNew(replacement));
        if (file.handle >= 0) {
            file.kind = OutputKind::Replacement;
            file.replacement = replacement;
            return file;
        }
        if (!AlreadyExists(::GetLastError())) break;
    }
    return file;
}

}  // namespace platform
