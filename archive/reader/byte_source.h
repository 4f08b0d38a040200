#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TStream32;

// Positioned reads of an archive, as detection and the directory walks need
// them. A read outside the file simply delivers fewer bytes (or none), so
// offsets taken from an archive can be tried without checking them first.
// Reads go through two read-ahead windows, so that walking thousands of small
// headers costs a few large reads, also when a walk alternates between the
// central directory and the local headers.
class ByteSource {
public:
    explicit ByteSource(TStream32& stream);
    int64_t Size() const { return size_; }
    // Bytes delivered (0 at or past the end and on failure).
    size_t ReadAt(int64_t position, void* buffer, size_t count);
    // True when exactly `count` bytes were delivered.
    bool ReadExactly(int64_t position, void* buffer, size_t count) {
        return ReadAt(position, buffer, count) == count;
    }

private:
    struct Window {
        std::vector<uint8_t> bytes;
        int64_t start = 0;
        bool Holds(int64_t position) const {
            return position >= start && position < start + static_cast<int64_t>(bytes.size());
        }
    };
    static constexpr size_t kWindow = 64 * 1024;
    int64_t ReadStream(int64_t position, uint8_t* buffer, size_t count);

    TStream32& stream_;
    int64_t size_ = 0;
    Window windows_[2];
    size_t lastUsed_ = 0;
};
