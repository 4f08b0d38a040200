#include "platform/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/open_folder_listing.h"

namespace platform {

std::optional<std::vector<FolderEntry>> ListOpenFolder(int folder) {
    const int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) return std::nullopt;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    for (;;) {
        errno = 0;  // readdir tells its end from a failure only by errno
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        FolderEntry found{entry->d_name};
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        found.isFolder = type == DT_DIR;
        found.isLink = type == DT_LNK;
        entries.push_back(std::move(found));
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    return entries;
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& folder) {
    const int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) return std::nullopt;
    auto entries = ListOpenFolder(opened);
    const int error = errno;
    ::close(opened);
    errno = error;
    return entries;
}

bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool RemoveEmptyFolder(const std::string& folder) { return ::rmdir(folder.c_str()) == 0; }

}  // namespace platform
