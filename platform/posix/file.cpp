#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

File::~File() { Close(); }

bool File::Open(const std::string& path, Mode mode) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read: flags |= O_RDONLY; break;
        case Mode::ReadWrite: flags |= O_RDWR; break;
        case Mode::CreateAlways: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    handle_ = ::open(path.c_str(), flags, 0666);
    return handle_ >= 0;
}

void File::Close() {
    if (handle_ >= 0) ::close(std::exchange(handle_, -1));
}

int64_t File::Read(void* buffer, size_t count) {
    for (;;) {
        ssize_t n = ::read(handle_, buffer, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

int64_t File::Write(const void* buffer, size_t count) {
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(handle_, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? static_cast<int64_t>(done) : -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t File::Seek(int64_t offset, Origin origin) {
    int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    return ::lseek(handle_, offset, whence);
}

int64_t File::Size() const {
    struct stat st {};
    return ::fstat(handle_, &st) == 0 ? st.st_size : -1;
}

bool File::SetSize(int64_t size) { return ::ftruncate(handle_, size) == 0; }

}  // namespace platform
