#include "archive/reader/byte_source.h"

#include "archive/reader/stream32.h"

#include <algorithm>
#include <cstring>
#include <limits>

ByteSource::ByteSource(TStream32& stream) : stream_(stream), size_(std::max<int64_t>(stream.Size(), 0)) {}

int64_t ByteSource::ReadStream(int64_t position, uint8_t* buffer, size_t count) {
    if (stream_.Seek(position, TSeekOrigin::soBeginning) != position) return 0;
    size_t done = 0;
    while (done < count) {
        const auto chunk = static_cast<int32_t>(std::min<size_t>(count - done, std::numeric_limits<int32_t>::max()));
        const int32_t n = stream_.Read(buffer + done, chunk);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

size_t ByteSource::ReadAt(int64_t position, void* buffer, size_t count) {
    if (position < 0 || position >= size_ || count == 0) return 0;
    count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - position));
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const int64_t at = position + static_cast<int64_t>(done);
        size_t use = windows_[lastUsed_].Holds(at) ? lastUsed_ : 1 - lastUsed_;
        if (!windows_[use].Holds(at)) {
            // Large reads bypass the windows; small ones refill the older window.
            if (count - done >= kWindow) {
                const int64_t n = ReadStream(at, out + done, count - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
                continue;
            }
            use = 1 - lastUsed_;
            Window& window = windows_[use];
            window.bytes.resize(kWindow);
            window.start = at;
            window.bytes.resize(static_cast<size_t>(ReadStream(at, window.bytes.data(), kWindow)));
            if (window.bytes.empty()) break;
        }
        lastUsed_ = use;
        const Window& window = windows_[use];
        const size_t offset = static_cast<size_t>(at - window.start);
        const size_t take = std::min(count - done, window.bytes.size() - offset);
        std::memcpy(out + done, window.bytes.data() + offset, take);
        done += take;
    }
    return done;
}
