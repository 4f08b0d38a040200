#include "archive/byte_source.h"

#include <algorithm>
#include <cstring>

bool FileByteSource::Open(const std::string& path) {
    for (Window& window : windows_) window.bytes.clear();
    if (!file_.Open(path, platform::File::Mode::Read)) return false;
    size_ = file_.Size();
    return size_ >= 0;
}

size_t FileByteSource::ReadAt(int64_t position, void* buffer, size_t count) {
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
                if (file_.Seek(at, platform::File::Origin::Begin) < 0) break;
                const int64_t n = file_.Read(out + done, count - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
                continue;
            }
            use = 1 - lastUsed_;
            Window& window = windows_[use];
            window.bytes.resize(kWindow);
            window.start = at;
            int64_t n = -1;
            if (file_.Seek(at, platform::File::Origin::Begin) >= 0) n = file_.Read(window.bytes.data(), kWindow);
            window.bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
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
