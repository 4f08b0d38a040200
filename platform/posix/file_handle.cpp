#include "platform/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int OpenFileHandle(const std::string& path, FileAccess access, FileShare /*share*/) {
    int flags = O_CLOEXEC;
    switch (access) {
        case FileAccess::Read: flags |= O_RDONLY; break;
        case FileAccess::Write: flags |= O_WRONLY; break;
        case FileAccess::ReadWrite: flags |= O_RDWR; break;
    }
    int handle = ::open(path.c_str(), flags);
    if (handle < 0) return -1;
    struct stat st {};
    if (::fstat(handle, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(handle);
        errno = EISDIR;
        return -1;
    }
    return handle;
}

int CreateFileHandle(const std::string& path) {
    // Never through a symbolic link: an extracted file must land where its name says.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_RDWR | O_CREAT;
    // Most outputs are new files, made at once; only an existing one is
    // looked at first.
    int handle = ::open(path.c_str(), kFlags | O_EXCL, 0666);
    if (handle >= 0) return handle;
    if (errno != EEXIST) return -1;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) {
        errno = EACCES;
        return -1;
    }
    handle = ::open(path.c_str(), kFlags | O_TRUNC, 0666);
    return handle < 0 ? -1 : handle;
}

bool CloseFileHandle(int handle) { return ::close(handle) == 0; }

int64_t ReadFileHandle(int handle, void* buffer, size_t count) {
    for (;;) {
        ssize_t n = ::read(handle, buffer, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

int64_t WriteFileHandle(int handle, const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(handle, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? static_cast<int64_t>(done) : -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t SeekFileHandle(int handle, int64_t offset, SeekOrigin origin) {
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    return ::lseek(handle, offset, whence);
}

bool SetEndOfFileHandle(int handle) {
    off_t position = ::lseek(handle, 0, SEEK_CUR);
    return position >= 0 && ::ftruncate(handle, position) == 0;
}

int64_t FileHandleSize(int handle) {
    struct stat st {};
    return ::fstat(handle, &st) == 0 ? st.st_size : -1;
}

bool SetFileHandleSize(int handle, int64_t size) { return ::ftruncate(handle, size) == 0; }

bool IsDiskFullError(int errorCode) { return errorCode == ENOSPC; }

bool IsNotFoundError(int errorCode) { return errorCode == ENOENT; }

}  // namespace platform
