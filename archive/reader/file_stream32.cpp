#include "archive/reader/file_stream32.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/format/archive_exceptions.h"
#include "platform/errors.h"
#include "platform/file_handle.h"

namespace {

platform::SeekOrigin ToPlatform(TSeekOrigin origin) {
    switch (origin) {
        case TSeekOrigin::soCurrent: return platform::SeekOrigin::Current;
        case TSeekOrigin::soEnd: return platform::SeekOrigin::End;
        default: return platform::SeekOrigin::Begin;
    }
}

int OpenByMode(const std::string& fileName, uint16_t mode) {
    if (mode == fmCreate) return platform::CreateFileHandle(fileName);

    platform::FileAccess access;
    switch (mode & 0x3) {
        case 0: access = platform::FileAccess::Read; break;
        case 1: access = platform::FileAccess::Write; break;
        case 2: access = platform::FileAccess::ReadWrite; break;
        default: return -1;
    }
    platform::FileShare share;
    switch ((mode >> 4) & 0xF) {
        case 0:
        case 1: share = platform::FileShare::Exclusive; break;
        case 2: share = platform::FileShare::DenyWrite; break;
        case 3: share = platform::FileShare::DenyRead; break;
        case 4: share = platform::FileShare::DenyNone; break;
        default: return -1;
    }
    return platform::OpenFileHandle(fileName, access, share);
}

}  // namespace

void THandleStream32::SetSize(int64_t newSize) {
    if (Seek(newSize, TSeekOrigin::soBeginning) < 0 || !SyncHandle() || !platform::SetEndOfFileHandle(handle_))
        throw EOSError(platform::LastError());
}

int32_t THandleStream32::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    if (readAhead_) return ReadBuffered(static_cast<uint8_t*>(buffer), count);
    const int64_t n = platform::ReadFileHandle(handle_, buffer, static_cast<size_t>(count));
    return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t THandleStream32::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    if (!SyncHandle()) return 0;
    const int64_t n = platform::WriteFileHandle(handle_, buffer, static_cast<size_t>(count));
    if (n <= 0) return 0;
    if (readAhead_) readAhead_->position = readAhead_->handleAt += n;
    return static_cast<int32_t>(n);
}

int32_t THandleStream32::Seek(int32_t offset, uint16_t origin) {
    if (origin > 2) return -1;
    const int64_t position = THandleStream32::Seek(static_cast<int64_t>(offset), static_cast<TSeekOrigin>(origin));
    if (position < 0 || position > std::numeric_limits<int32_t>::max()) return -1;
    return static_cast<int32_t>(position);
}

int64_t THandleStream32::Seek(int64_t offset, TSeekOrigin origin) {
    const auto lowBits = static_cast<uint8_t>(static_cast<uint8_t>(origin) & 0x7F);
    if (lowBits > 2) return -1;
    if (readAhead_ && lowBits != static_cast<uint8_t>(TSeekOrigin::soEnd)) {
        // Only recorded: the next read that needs the handle moves it.
        int64_t target = offset;
        if (lowBits == static_cast<uint8_t>(TSeekOrigin::soCurrent)) {
            if (offset > std::numeric_limits<int64_t>::max() - readAhead_->position) return -1;
            target += readAhead_->position;
        }
        if (target < 0) return -1;
        readAhead_->position = target;
        return target;
    }
    if (readAhead_) {
        const int64_t position = platform::SeekFileHandle(handle_, offset, platform::SeekOrigin::End);
        if (position < 0) return -1;
        readAhead_->position = readAhead_->handleAt = position;
        return position;
    }
    return platform::SeekFileHandle(handle_, offset, ToPlatform(static_cast<TSeekOrigin>(lowBits)));
}

bool THandleStream32::SyncHandle() {
    if (!readAhead_) return true;
    readAhead_->fill = 0;
    if (readAhead_->handleAt == readAhead_->position) return true;
    if (platform::SeekFileHandle(handle_, readAhead_->position, platform::SeekOrigin::Begin) != readAhead_->position)
        return false;
    readAhead_->handleAt = readAhead_->position;
    return true;
}

int64_t THandleStream32::ReadAt(int64_t position, uint8_t* buffer, int32_t count) {
    ReadAhead& ahead = *readAhead_;
    if (ahead.handleAt != position) {
        if (platform::SeekFileHandle(handle_, position, platform::SeekOrigin::Begin) != position) return -1;
        ahead.handleAt = position;
    }
    const int64_t n = platform::ReadFileHandle(handle_, buffer, static_cast<size_t>(count));
    if (n > 0) ahead.handleAt += n;
    return n;
}

int32_t THandleStream32::ReadBuffered(uint8_t* buffer, int32_t count) {
    ReadAhead& ahead = *readAhead_;
    int32_t done = 0;
    while (done < count) {
        const int64_t at = ahead.position;
        if (at >= ahead.start && at < ahead.start + ahead.fill) {
            const auto offset = static_cast<int32_t>(at - ahead.start);
            const int32_t take = std::min(count - done, ahead.fill - offset);
            std::memcpy(buffer + done, ahead.bytes.get() + offset, static_cast<size_t>(take));
            done += take;
            ahead.position += take;
            continue;
        }
        // A large read goes straight into the caller's buffer.
        if (count - done >= kReadAheadBytes) {
            const int64_t n = ReadAt(at, buffer + done, count - done);
            if (n <= 0) break;
            done += static_cast<int32_t>(n);
            ahead.position += n;
            continue;
        }
        ahead.fill = 0;
        const int64_t n = ReadAt(at, ahead.bytes.get(), kReadAheadBytes);
        if (n <= 0) break;
        ahead.start = at;
        ahead.fill = static_cast<int32_t>(n);
    }
    return done;
}

TFileStream32::TFileStream32(const std::string& fileName, uint16_t mode)
    : THandleStream32(OpenByMode(fileName, mode)) {
    if (handle_ >= 0 && mode != fmCreate && (mode & 0x3) == fmOpenRead) EnableReadAhead();
}

TFileStream32::~TFileStream32() {
    if (handle_ >= 0 && platform::CloseFileHandle(handle_)) handle_ = -1;
}

bool TFileStream32::Close() {
    if (handle_ < 0) return true;
    const bool closed = platform::CloseFileHandle(handle_);
    handle_ = -1;
    DisableReadAhead();
    return closed;
}
