#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/file_system.h"

namespace platform {

OutputFile CreateOutputFile(const std::string& path) {
    // Never through a symbolic link: an extracted file must land where its name says.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_RDWR | O_CREAT;
    OutputFile file;
    file.handle = ::open(path.c_str(), kFlags | O_EXCL, 0666);
    if (file.handle >= 0 || errno != EEXIST) return file;

    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return file;
    if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode)) {
        errno = S_ISLNK(st.st_mode) ? ELOOP : EISDIR;
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        file.kind = OutputKind::InPlace;
        file.handle = ::open(path.c_str(), kFlags | O_TRUNC, 0666);
        return file;
    }
    if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
        errno = EACCES;
        return file;
    }
    std::string pattern = path.substr(0, path.rfind(kPathSeparator) + 1) + ".quendal-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    file.handle = ::mkostemp(name.data(), O_CLOEXEC);
    if (file.handle < 0) return file;
    file.kind = OutputKind::Replacement;
    file.replacement = name.data();
    // The replacement takes the old file's permissions, and its owner where
    // the process may give a file away.
    ::fchmod(file.handle, st.st_mode & 07777);
    static const uid_t user = ::geteuid();
    static const gid_t group = ::getegid();
    if ((st.st_uid != user || st.st_gid != group) && ::fchown(file.handle, st.st_uid, st.st_gid) != 0) {
        // Only a privileged process may; otherwise the replacement stays the process's own.
    }
    return file;
}

}  // namespace platform
