#include "install/install_file_system.h"

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_handle.h"
#include "platform/file_replace.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"
#include "platform/safe_path.h"

namespace {

// Writes all of `bytes` at the handle's position; the handle is closed.
bool WriteAllAndClose(int handle, const std::string& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const int64_t n = platform::WriteFileHandle(handle, bytes.data() + written, bytes.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const int error = platform::LastError();
    const bool closed = platform::CloseFileHandle(handle);
    if (written < bytes.size()) {
        platform::SetLastError(error);
        return false;
    }
    return closed;
}

}  // namespace

bool TInstallFileSystem::Move(const std::string& from, const std::string& to) {
    return platform::MoveReplacing(from, to);
}

bool TInstallFileSystem::FlushFile(const std::string& path) { return platform::FlushFileToDisk(path); }

bool TInstallFileSystem::FlushFolder(const std::string& folder) { return platform::FlushFolderToDisk(folder); }

bool TInstallFileSystem::WriteFile(const std::string& path, const std::string& bytes) {
    const int handle = platform::CreateFileHandle(path);
    return handle >= 0 && WriteAllAndClose(handle, bytes);
}

bool TInstallFileSystem::AppendFile(const std::string& path, const std::string& bytes) {
    int handle = platform::OpenFileHandle(path, platform::FileAccess::ReadWrite, platform::FileShare::DenyWrite);
    if (handle < 0) handle = platform::CreateFileHandle(path);
    if (handle < 0) return false;
    if (platform::SeekFileHandle(handle, 0, platform::SeekOrigin::End) < 0) {
        platform::CloseFileHandle(handle);
        return false;
    }
    return WriteAllAndClose(handle, bytes);
}

std::optional<std::string> TInstallFileSystem::ReadFile(const std::string& path, size_t maxBytes) {
    const int handle = platform::OpenFileHandle(path, platform::FileAccess::Read, platform::FileShare::DenyNone);
    if (handle < 0) return std::nullopt;
    std::string bytes;
    char buffer[64 * 1024];
    int64_t n = 0;
    while (bytes.size() <= maxBytes && (n = platform::ReadFileHandle(handle, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    platform::CloseFileHandle(handle);
    if (n < 0 || bytes.size() > maxBytes) return std::nullopt;
    return bytes;
}

bool TInstallFileSystem::CreateFolder(const std::string& folder) { return platform::CreateDir(folder); }

bool TInstallFileSystem::RemoveFile(const std::string& path) { return platform::RemoveFile(path); }

bool TInstallFileSystem::RemoveEmptyFolder(const std::string& folder) { return platform::RemoveEmptyFolder(folder); }

std::optional<std::vector<platform::FolderEntry>> TInstallFileSystem::ListFolder(const std::string& folder) {
    return platform::ListFolder(folder);
}

bool TInstallFileSystem::FileExists(const std::string& path) { return platform::FileExists(path); }

bool TInstallFileSystem::EntryExists(const std::string& path) { return platform::EntryExists(path); }

bool TInstallFileSystem::FolderExists(const std::string& path) { return platform::DirectoryExists(path); }

std::optional<platform::FileStamp> TInstallFileSystem::Stamp(const std::string& path) {
    return platform::StampOf(path);
}

std::optional<platform::Sha256Digest> TInstallFileSystem::Sha256(const std::string& path) {
    return platform::Sha256OfFile(path);
}

bool TInstallFileSystem::CanOpenForDeletion(const std::string& path) { return platform::CanOpenForDeletion(path); }

bool TInstallFileSystem::SetHidden(const std::string& path) { return platform::SetHiddenAttribute(path); }

int64_t TInstallFileSystem::FreeSpace(const std::string& path) { return platform::FreeSpaceOf(path); }

// The window stays responsive while a held file is waited for.
void TInstallFileSystem::Sleep(uint32_t milliseconds) {
    platform::ProcessMessages();
    platform::Sleep(milliseconds);
    platform::ProcessMessages();
}

int TInstallFileSystem::LastError() { return platform::LastError(); }

bool TInstallFileSystem::ReplaceFileWhole(const std::string& folder, const std::string& path,
                                          const std::string& bytes) {
    const std::string fresh = path + ".new";
    if (!FolderExists(folder) && !CreateFolder(folder)) return false;
    if (!WriteFile(fresh, bytes) || !FlushFile(fresh) || !Move(fresh, path) || !FlushFolder(folder)) {
        RemoveFile(fresh);
        return false;
    }
    return true;
}

std::optional<std::string> TInstallFileSystem::LinkTarget(const std::string& path) {
    return platform::ReadSymbolicLink(path);
}
