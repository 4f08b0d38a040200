#include "install/install_file_system.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file_handle.h"
#include "platform/file_replace.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"
#include "platform/safe_path.h"
#include "platform/tree_flush.h"
#include "release/entry_name.h"

namespace {

using platform::EntryKind;
using platform::FileAccess;
using platform::FileOpening;
using platform::GuardedFolder;

bool IsSeparator(char c) { return c != '\0' && std::strchr(platform::kPathSeparators, c) != nullptr; }

// A folder's path cut where it stops being taken on trust: at the updater's
// own folder, when the path goes through it.
struct GuardedPath {
    std::string trusted;  // reached as the system reaches any path
    std::string below;    // walked without following a link
};

GuardedPath GuardFolder(const std::string& folder) {
    const size_t length = std::strlen(kUpdateFolderName);
    for (size_t at = folder.rfind(kUpdateFolderName); at != std::string::npos;
         at = at == 0 ? std::string::npos : folder.rfind(kUpdateFolderName, at - 1)) {
        const size_t end = at + length;
        if ((at == 0 || IsSeparator(folder[at - 1])) && (end == folder.size() || IsSeparator(folder[end])))
            return {folder.substr(0, at), folder.substr(at)};
    }
    return {folder, ""};
}

bool OpenFolder(GuardedFolder& guarded, const std::string& folder) {
    const GuardedPath path = GuardFolder(folder);
    return guarded.Open(path.trusted, path.below);
}

// Opens the folder holding `path` and gives the path's last part, which is
// never followed. A trailing separator is dropped: the system would follow a
// last part that is a link to reach the folder it names.
bool OpenParent(GuardedFolder& guarded, std::string path, std::string& name) {
    while (path.size() > 1 && IsSeparator(path.back())) path.pop_back();
    const size_t nameAt = path.find_last_of(platform::kPathSeparators) + 1;  // 0 when there is no separator
    name = path.substr(nameAt);
    return OpenFolder(guarded, path.substr(0, nameAt));
}

template <class Result, class Operation>
Result InParent(const std::string& path, Result failed, Operation operation) {
    GuardedFolder folder;
    std::string name;
    if (!OpenParent(folder, path, name)) return failed;
    return operation(folder, name);
}

int OpenGuardedFile(const std::string& path, FileAccess access, FileOpening opening) {
    return InParent(path, -1, [&](const GuardedFolder& folder, const std::string& name) {
        return folder.OpenFile(name, access, opening);
    });
}

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
    GuardedFolder source, target;
    std::string sourceName, targetName;
    return OpenParent(source, from, sourceName) && OpenParent(target, to, targetName) &&
           source.Move(sourceName, target, targetName);
}

bool TInstallFileSystem::FlushFile(const std::string& path) {
    return InParent(path, false, [](const GuardedFolder& folder, const std::string& name) {
        return folder.FlushFile(name);
    });
}

bool TInstallFileSystem::FlushFolder(const std::string& folder) {
    GuardedFolder guarded;
    return OpenFolder(guarded, folder) && guarded.Flush();
}

bool TInstallFileSystem::WriteFile(const std::string& path, const std::string& bytes) {
    const int handle = OpenGuardedFile(path, FileAccess::Write, FileOpening::CreateOrTruncate);
    return handle >= 0 && WriteAllAndClose(handle, bytes);
}

bool TInstallFileSystem::AppendFile(const std::string& path, const std::string& bytes) {
    const int handle = OpenGuardedFile(path, FileAccess::Write, FileOpening::CreateOrKeep);
    if (handle < 0) return false;
    if (platform::SeekFileHandle(handle, 0, platform::SeekOrigin::End) < 0) {
        platform::CloseFileHandle(handle);
        return false;
    }
    return WriteAllAndClose(handle, bytes);
}

std::optional<std::string> TInstallFileSystem::ReadFile(const std::string& path, size_t maxBytes) {
    const int handle = OpenGuardedFile(path, FileAccess::Read, FileOpening::Existing);
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

bool TInstallFileSystem::CreateFolder(const std::string& folder) {
    return InParent(folder, false, [](const GuardedFolder& parent, const std::string& name) {
        return parent.CreateFolder(name);
    });
}

bool TInstallFileSystem::RemoveFile(const std::string& path) {
    return InParent(path, false, [](const GuardedFolder& folder, const std::string& name) {
        return folder.RemoveFile(name);
    });
}

bool TInstallFileSystem::RemoveEmptyFolder(const std::string& folder) {
    return InParent(folder, false, [](const GuardedFolder& parent, const std::string& name) {
        return parent.RemoveEmptyFolder(name);
    });
}

bool TInstallFileSystem::RemoveTree(const std::string& path) {
    GuardedFolder folder;
    std::string name;
    if (!OpenParent(folder, path, name)) return platform::IsNotFoundError(platform::LastError());
    return folder.RemoveTree(name);
}

std::optional<std::vector<platform::FolderEntry>> TInstallFileSystem::ListFolder(const std::string& folder) {
    GuardedFolder guarded;
    if (!OpenFolder(guarded, folder)) return std::nullopt;
    return guarded.List();
}

EntryKind TInstallFileSystem::KindOf(const std::string& path) {
    return InParent(path, EntryKind::Missing, [](const GuardedFolder& folder, const std::string& name) {
        return folder.KindOf(name);
    });
}

bool TInstallFileSystem::FileExists(const std::string& path) {
    const EntryKind kind = KindOf(path);
    return kind != EntryKind::Missing && kind != EntryKind::Folder;
}

bool TInstallFileSystem::EntryExists(const std::string& path) { return KindOf(path) != EntryKind::Missing; }

bool TInstallFileSystem::FolderExists(const std::string& path) { return KindOf(path) == EntryKind::Folder; }

std::optional<platform::FileStamp> TInstallFileSystem::Stamp(const std::string& path) {
    return platform::StampOf(path);
}

std::optional<platform::Sha256Digest> TInstallFileSystem::Sha256(const std::string& path) {
    const int handle = OpenGuardedFile(path, FileAccess::Read, FileOpening::Existing);
    if (handle < 0) return std::nullopt;
    auto digest = platform::Sha256OfOpenFile(handle);
    platform::CloseFileHandle(handle);
    return digest;
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

bool TInstallFileSystem::FlushTree(const std::string& folder) { return platform::FlushTreeToDisk(folder); }

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
