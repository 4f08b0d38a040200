#include "platform/path_kind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

PathKind KindOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (S_ISLNK(st.st_mode)) return PathKind::Link;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    if (S_ISREG(st.st_mode)) return PathKind::File;
    return PathKind::Other;
}

// One call for the whole file system beats one fsync a file by far when an
// update stages thousands of them.
bool FlushTreeToDisk(const std::string& folder) {
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) return false;
    const bool flushed = ::syncfs(handle) == 0;
    ::close(handle);
    return flushed;
}

}  // namespace platform
