#include "platform/file_replace.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdio>

namespace platform {

bool MoveReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

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
