#include "platform/file_attributes.h"

#include <sys/stat.h>

namespace platform {

int64_t GetFileAttributes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    uint32_t attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    if ((st.st_mode & 0222) == 0) attributes |= kAttrReadOnly;
    return attributes;
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
    const uint32_t unixMode = attributes >> 16;
    const uint32_t type = unixMode & S_IFMT;
    if (type == S_IFREG || type == S_IFDIR) return ::chmod(path.c_str(), unixMode & 0777) == 0;

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly) {
        mode &= static_cast<mode_t>(~0222);
    } else if ((mode & 0222) == 0) {
        mode |= 0200;  // writable again for the owner
    }
    return ::chmod(path.c_str(), mode) == 0;
}

}  // namespace platform
