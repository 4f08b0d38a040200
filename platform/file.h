#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An open file: a thin owner of the operating system's handle. Failures return
// false or -1 and leave the reason in LastError(); nothing here throws.
class File {
public:
    enum class Mode {
        Read,          // existing file, read only
        ReadWrite,     // existing file, read and write
        CreateAlways,  // create or truncate, read and write
    };

    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool Open(const std::string& path, Mode mode);
    void Close();
    bool IsOpen() const { return handle_ >= 0; }
    int Handle() const { return handle_; }

    // Bytes transferred, 0 at the end of the file, -1 on failure. Write
    // retries until all is written or the system refuses more.
    int64_t Read(void* buffer, size_t count);
    int64_t Write(const void* buffer, size_t count);

    enum class Origin { Begin, Current, End };
    int64_t Seek(int64_t offset, Origin origin);  // new position or -1
    int64_t Size() const;                          // -1 on failure
    bool SetSize(int64_t size);

private:
    int handle_ = -1;
};

}  // namespace platform
