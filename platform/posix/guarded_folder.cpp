#include "platform/guarded_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/open_folder_listing.h"

namespace platform {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A folder, a link or a file swapped in under a removal is looked at again
// this often before the removal gives up.
constexpr int kSwapRetries = 8;

bool Fail(int error) {
    errno = error;
    return false;
}

// Closes `fd` keeping the caller's errno.
void CloseKeepingError(int fd) {
    const int error = errno;
    ::close(fd);
    errno = error;
}

EntryKind KindOfStatus(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return EntryKind::Link;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    if (S_ISREG(st.st_mode)) return st.st_nlink > 1 ? EntryKind::SharedFile : EntryKind::File;
    return EntryKind::Other;
}

bool RemoveTreeAt(int parent, const char* name, int depth);

// Empties the folder open as `folder` (the descriptor is taken over). Names
// are removed while they are read: those not yet read are still returned.
bool RemoveContents(int folder, int depth) {
    DIR* dir = ::fdopendir(folder);
    if (!dir) {
        CloseKeepingError(folder);
        return false;
    }
    bool removed = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            removed = removed && errno == 0;
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (!RemoveTreeAt(::dirfd(dir), entry->d_name, depth)) {
            removed = false;
            break;
        }
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return removed;
}

// Everything here works on what the name is at the moment of each call: a
// folder is entered only through a descriptor opened with O_NOFOLLOW, so a
// folder swapped for a link between two calls is found as the link, and
// removed as one.
bool RemoveTreeAt(int parent, const char* name, int depth) {
    for (int attempt = 0; attempt < kSwapRetries; ++attempt) {
        struct stat st {};
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
        if (!S_ISDIR(st.st_mode)) {
            if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT) return true;
            if (errno == EISDIR || errno == EPERM) continue;  // a folder now
            return false;
        }
        if (depth >= GuardedFolder::kMaxTreeDepth) return Fail(ELOOP);
        const int folder = ::openat(parent, name, kFolderFlags);
        if (folder < 0) {
            if (errno == ELOOP || errno == ENOTDIR || errno == ENOENT) continue;  // no folder any more
            return false;
        }
        if (!RemoveContents(folder, depth + 1)) return false;
        if (::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
        // Filled again, or swapped for something else: look again.
        if (errno != ENOTEMPTY && errno != EEXIST && errno != ENOTDIR) return false;
    }
    return false;
}

}  // namespace

GuardedFolder::~GuardedFolder() { Close(); }

void GuardedFolder::Close() {
    if (folder_ >= 0) CloseKeepingError(folder_);
    folder_ = -1;
}

bool GuardedFolder::Open(const std::string& trusted, const std::string& below) {
    Close();
    int folder = ::open(trusted.empty() ? "." : trusted.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    size_t at = 0;
    while (at < below.size()) {
        size_t end = below.find('/', at);
        if (end == std::string::npos) end = below.size();
        const std::string part = below.substr(at, end - at);
        at = end + 1;
        if (part.empty()) continue;
        // ".." would climb out of the walk.
        if (!IsSinglePart(part)) {
            ::close(folder);
            return Fail(EINVAL);
        }
        // A link answers ELOOP, a file ENOTDIR.
        const int next = ::openat(folder, part.c_str(), kFolderFlags);
        CloseKeepingError(folder);
        if (next < 0) return false;
        folder = next;
    }
    folder_ = folder;
    return true;
}

EntryKind GuardedFolder::KindOf(const std::string& name) const {
    struct stat st {};
    if (!IsSinglePart(name) || ::fstatat(folder_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return EntryKind::Missing;
    return KindOfStatus(st);
}

int GuardedFolder::OpenFile(const std::string& name, FileAccess access, FileOpening opening) const {
    if (!IsSinglePart(name)) {
        errno = EINVAL;
        return -1;
    }
    // Never blocking: a pipe planted at the name must not stop the run.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    flags |= access == FileAccess::Read ? O_RDONLY : access == FileAccess::Write ? O_WRONLY : O_RDWR;
    if (opening != FileOpening::Existing) flags |= O_CREAT;
    const int file = ::openat(folder_, name.c_str(), flags, 0666);
    if (file < 0) return -1;
    // Emptied only once it is known to be this file alone.
    struct stat st {};
    int refusal = 0;
    if (::fstat(file, &st) != 0)
        refusal = errno;
    else if (S_ISDIR(st.st_mode))
        refusal = EISDIR;
    else if (!S_ISREG(st.st_mode))
        refusal = ENXIO;
    else if (access != FileAccess::Read && st.st_nlink > 1)
        refusal = EMLINK;
    else if (::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK) != 0)
        refusal = errno;
    else if (opening == FileOpening::CreateOrTruncate && ::ftruncate(file, 0) != 0)
        refusal = errno;
    if (refusal == 0) return file;
    ::close(file);
    errno = refusal;
    return -1;
}

bool GuardedFolder::FlushFile(const std::string& name) const {
    const int file = OpenFile(name, FileAccess::Read, FileOpening::Existing);
    if (file < 0) return false;
    const bool synced = ::fsync(file) == 0;
    CloseKeepingError(file);
    return synced;
}

bool GuardedFolder::CreateFolder(const std::string& name) const {
    return IsSinglePart(name) ? ::mkdirat(folder_, name.c_str(), 0777) == 0 : Fail(EINVAL);
}

bool GuardedFolder::RemoveFile(const std::string& name) const {
    return IsSinglePart(name) ? ::unlinkat(folder_, name.c_str(), 0) == 0 : Fail(EINVAL);
}

bool GuardedFolder::RemoveEmptyFolder(const std::string& name) const {
    return IsSinglePart(name) ? ::unlinkat(folder_, name.c_str(), AT_REMOVEDIR) == 0 : Fail(EINVAL);
}

bool GuardedFolder::RemoveTree(const std::string& name) const {
    return IsSinglePart(name) ? RemoveTreeAt(folder_, name.c_str(), 0) : Fail(EINVAL);
}

bool GuardedFolder::Move(const std::string& name, const GuardedFolder& to, const std::string& newName) const {
    if (!IsSinglePart(name) || !IsSinglePart(newName)) return Fail(EINVAL);
    return ::renameat(folder_, name.c_str(), to.folder_, newName.c_str()) == 0;
}

std::optional<std::vector<FolderEntry>> GuardedFolder::List() const { return ListOpenFolder(folder_); }

bool GuardedFolder::Flush() const { return ::fsync(folder_) == 0; }

}  // namespace platform
