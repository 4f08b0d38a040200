#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

}  // namespace

bool MoveReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool FlushFileToDisk(const std::string& path) { return SyncPath(path, O_RDONLY); }

bool FlushFolderToDisk(const std::string& folder) { return SyncPath(folder, O_RDONLY | O_DIRECTORY); }

int64_t FreeSpaceOf(const std::string& path) {
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) != 0) return -1;
    return static_cast<int64_t>(volume.f_bavail) * static_cast<int64_t>(volume.f_frsize);
}

bool CanOpenForDeletion(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool SetHiddenAttribute(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace platform
