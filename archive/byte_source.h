#pragma once

#include "platform/file.h"

#include <cstdint>
#include <string>
#include <vector>

// Positioned reads of an archive, as detection and the directory walks need
// them. A read outside the file simply delivers fewer bytes (or none), so
// offsets taken from an archive can be tried without checking them first.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual int64_t Size() = 0;
    // Bytes delivered (0 at or past the end and on failure).
    virtual size_t ReadAt(int64_t position, void* buffer, size_t count) = 0;
    // True when exactly `count` bytes were delivered.
    bool ReadExactly(int64_t position, void* buffer, size_t count) {
        return ReadAt(position, buffer, count) == count;
    }
};

// Reads a file through two read-ahead windows, so that walking thousands of
// small headers costs a few large reads, also when a walk alternates between
// the central directory and the local headers.
class FileByteSource : public ByteSource {
public:
    bool Open(const std::string& path);
    int64_t Size() override { return size_; }
    size_t ReadAt(int64_t position, void* buffer, size_t count) override;

private:
    struct Window {
        std::vector<uint8_t> bytes;
        int64_t start = 0;
        bool Holds(int64_t position) const {
            return position >= start && position < start + static_cast<int64_t>(bytes.size());
        }
    };
    static constexpr size_t kWindow = 64 * 1024;
    platform::File file_;
    int64_t size_ = 0;
    Window windows_[2];
    size_t lastUsed_ = 0;
};
