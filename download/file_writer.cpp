#include "download/file_writer.h"

#include "platform/errors.h"
#include "platform/file_system.h"

#include <cstring>
#include <system_error>

TFileWriter::TFileWriter() : buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

bool TFileWriter::Create(const std::string& path) {
    used_ = 0;
    if (file_.Open(path, platform::File::Mode::CreateAlways)) return true;
    errorCode_ = platform::LastError();
    return false;
}

bool TFileWriter::OpenAt(const std::string& path, int64_t size) {
    used_ = 0;
    if (file_.Open(path, platform::File::Mode::ReadWrite) && file_.SetSize(size) &&
        file_.Seek(size, platform::File::Origin::Begin) == size)
        return true;
    errorCode_ = platform::LastError();
    file_.Close();
    return false;
}

bool TFileWriter::Append(const std::string& path) {
    used_ = 0;
    // Only a missing file is created: one that exists but cannot be opened
    // (no rights, a folder) must not be truncated by a second try.
    const platform::File::Mode mode =
        platform::FileExists(path) ? platform::File::Mode::ReadWrite : platform::File::Mode::CreateAlways;
    if (file_.Open(path, mode) && file_.Seek(0, platform::File::Origin::End) >= 0) return true;
    errorCode_ = platform::LastError();
    file_.Close();
    return false;
}

bool TFileWriter::Write(const char* data, size_t count) {
    if (used_ + count > kBufferSize && !Flush()) return false;
    if (count >= kBufferSize) return WriteThrough(data, count);
    std::memcpy(buffer_.get() + used_, data, count);
    used_ += count;
    return true;
}

bool TFileWriter::Close() {
    if (!file_.IsOpen()) return true;
    bool flushed = Flush();
    file_.Close();
    return flushed;
}

bool TFileWriter::Flush() {
    bool written = WriteThrough(buffer_.get(), used_);
    used_ = 0;
    return written;
}

bool TFileWriter::WriteThrough(const char* data, size_t count) {
    if (count == 0) return true;
    if (file_.Write(data, count) == static_cast<int64_t>(count)) return true;
    // A short write without a reason from the system is still a failed write.
    errorCode_ = platform::LastError();
    if (errorCode_ == 0) errorCode_ = static_cast<int>(std::errc::io_error);
    return false;
}
