#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <memory>

// A file created for writing whose small writes are gathered into one buffer,
// so that storing a body chunk by chunk does not cost a system call a chunk.
// Everything written is in the file once Close has returned.
class TFileWriter {
public:
    static constexpr size_t kBufferSize = 64 * 1024;

    TFileWriter();

    // Creates or truncates the file. False with ErrorCode() set on failure.
    bool Create(const std::string& path);
    // Opens an existing file to go on writing after its first `size` bytes
    // (anything past them is cut off). False with ErrorCode() set on failure.
    bool OpenAt(const std::string& path, int64_t size);
    // Opens the file to write after its last byte, creating it when missing.
    // False with ErrorCode() set on failure.
    bool Append(const std::string& path);
    bool IsOpen() const { return file_.IsOpen(); }
    // False with ErrorCode() set when the file refused bytes.
    bool Write(const char* data, size_t count);
    // Writes what is buffered and closes; false with ErrorCode() set when the
    // buffered bytes could not be written. Closing a closed writer succeeds.
    bool Close();
    int ErrorCode() const { return errorCode_; }

private:
    bool Flush();
    bool WriteThrough(const char* data, size_t count);

    platform::File file_;
    // buffer_[0..used_) waits for the file; a plain array, so a small write is one copy.
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    int errorCode_ = 0;
};
