#include "archive/streams/file_stream32.h"

#include <limits>

#include "archive/frame/archive_exceptions.h"
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
    if (Seek(newSize, TSeekOrigin::soBeginning) < 0 || !platform::SetEndOfFileHandle(handle_))
        throw EOSError(platform::LastError());
}

int32_t THandleStream32::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    const int64_t n = platform::ReadFileHandle(handle_, buffer, static_cast<size_t>(count));
    return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t THandleStream32::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    const int64_t n = platform::WriteFileHandle(handle_, buffer, static_cast<size_t>(count));
    return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t THandleStream32::Seek(int32_t offset, uint16_t origin) {
    if (origin > 2) return -1;
    const int64_t position =
        platform::SeekFileHandle(handle_, offset, ToPlatform(static_cast<TSeekOrigin>(origin)));
    if (position < 0 || position > std::numeric_limits<int32_t>::max()) return -1;
    return static_cast<int32_t>(position);
}

int64_t THandleStream32::Seek(int64_t offset, TSeekOrigin origin) {
    const auto lowBits = static_cast<uint8_t>(static_cast<uint8_t>(origin) & 0x7F);
    if (lowBits > 2) return -1;
    return platform::SeekFileHandle(handle_, offset, ToPlatform(static_cast<TSeekOrigin>(lowBits)));
}

TFileStream32::TFileStream32(const std::string& fileName, uint16_t mode)
    : THandleStream32(OpenByMode(fileName, mode)) {}

TFileStream32::~TFileStream32() {
    if (handle_ >= 0 && platform::CloseFileHandle(handle_)) handle_ = -1;
}

bool TFileStream32::Close() {
    if (handle_ < 0) return true;
    const bool closed = platform::CloseFileHandle(handle_);
    handle_ = -1;
    return closed;
}
