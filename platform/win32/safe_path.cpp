#include "platform/safe_path.h"

#include <windows.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/win32/wide_text.h"

// The system headers map this name to the wide variant of their own function.
#undef CreateSymbolicLink

namespace platform {
namespace {

// Where the folders of a path begin: after "C:\" or "\\server\share\".
size_t FirstFolderAt(const std::string& path) {
    auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 2 && path[1] == ':') return path.size() > 2 && isSeparator(path[2]) ? 3 : 2;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        const size_t server = path.find_first_of(kPathSeparators, 2);
        const size_t share = server == std::string::npos ? server : path.find_first_of(kPathSeparators, server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

bool MakeFolder(const std::string& path) {
    return ::CreateDirectoryW(Widen(path).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool ForceDirectories(const std::string& folder) {
    if (folder.empty()) return false;
    if (DirectoryExists(folder)) return true;  // the common case: one look instead of one per level
    for (size_t at = folder.find_first_of(kPathSeparators, FirstFolderAt(folder)); at != std::string::npos;
         at = folder.find_first_of(kPathSeparators, at + 1)) {
        if (!MakeFolder(folder.substr(0, at))) return false;
    }
    if (!MakeFolder(folder)) return false;
    return DirectoryExists(folder);
}

bool PathHasLinkBelow(const std::string& root, const std::string& path) {
    if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
    size_t at = root.size();
    while (at < path.size()) {
        size_t end = path.find_first_of(kPathSeparators, at);
        if (end == std::string::npos) end = path.size();
        if (end > at) {
            // Symbolic links and junctions are both reparse points.
            const DWORD attributes = ::GetFileAttributesW(Widen(path.substr(0, end)).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) return false;  // nothing exists further down
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
        }
        at = end + 1;
    }
    return false;
}

bool CreateSymbolicLink(const std::string& target, const std::string& linkPath) {
    // The system follows only its own separator in a link's target.
    std::string native = target;
    std::replace(native.begin(), native.end(), '/', kPathSeparator);
    // Windows needs to know whether the link leads to a folder, which a
    // relative target names from the link's folder; without developer mode,
    // making links needs a privilege.
    const std::string seen = IsAbsolutePath(native) ? native : linkPath.substr(0, linkPath.find_last_of(kPathSeparators) + 1) + native;
    const DWORD attributes = ::GetFileAttributesW(Widen(seen).c_str());
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    return ::CreateSymbolicLinkW(Widen(linkPath).c_str(), Widen(native).c_str(), flags) != 0;
}

}  // namespace platform
