#include "platform/file.h"

#include "platform/file_handle.h"

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
    switch (mode) {
        case Mode::Read: handle_ = OpenFileHandle(path, FileAccess::Read, FileShare::DenyNone); break;
        case Mode::ReadWrite: handle_ = OpenFileHandle(path, FileAccess::ReadWrite, FileShare::DenyNone); break;
        case Mode::CreateAlways: handle_ = CreateFileHandle(path); break;
    }
    return handle_ >= 0;
}

void File::Close() {
    if (handle_ >= 0) CloseFileHandle(std::exchange(handle_, -1));
}

int64_t File::Read(void* buffer, size_t count) { return ReadFileHandle(handle_, buffer, count); }

int64_t File::Write(const void* buffer, size_t count) { return WriteFileHandle(handle_, buffer, count); }

int64_t File::Seek(int64_t offset, Origin origin) {
    SeekOrigin from = origin == Origin::Begin ? SeekOrigin::Begin
                      : origin == Origin::Current ? SeekOrigin::Current
                                                  : SeekOrigin::End;
    return SeekFileHandle(handle_, offset, from);
}

int64_t File::Size() const { return FileHandleSize(handle_); }

bool File::SetSize(int64_t size) { return SetFileHandleSize(handle_, size); }

}  // namespace platform
