#include "platform/safe_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

namespace platform {

bool ForceDirectories(const std::string& folder) {
    if (folder.empty()) return false;
    if (DirectoryExists(folder)) return true;  // the common case: one look instead of one per level
    for (size_t at = folder.find(kPathSeparator, 1); at != std::string::npos;
         at = folder.find(kPathSeparator, at + 1)) {
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return false;
    return DirectoryExists(folder);
}

bool PathHasLinkBelow(const std::string& root, const std::string& path) {
    if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
    size_t at = root.size();
    while (at < path.size()) {
        size_t end = path.find(kPathSeparator, at);
        if (end == std::string::npos) end = path.size();
        if (end > at) {
            struct stat st {};
            const std::string part = path.substr(0, end);
            if (::lstat(part.c_str(), &st) != 0) return false;  // nothing exists further down
            if (S_ISLNK(st.st_mode)) return true;
        }
        at = end + 1;
    }
    return false;
}

bool CreateSymbolicLink(const std::string& target, const std::string& linkPath) {
    return ::symlink(target.c_str(), linkPath.c_str()) == 0;
}

std::optional<std::string> ReadSymbolicLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return std::nullopt;
    // The size lstat gives may be 0 (procfs) or stale: grow until it fits.
    std::string target(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            return target;
        }
        if (target.size() >= 65536) return std::nullopt;
        target.resize(target.size() * 2);
    }
}

}  // namespace platform
