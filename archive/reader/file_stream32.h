#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/reader/stream32.h"

// Open modes of TFileStream32: an access value (bits 0-1) or-ed with a
// sharing value (bits 4-7), or fmCreate on its own.
inline constexpr uint16_t fmCreate = 0xFFFF;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// A stream over an operating-system file handle that it does not own.
// Failed reads and writes come back as 0, failed seeks as -1.
//
// A stream opened for reading only reads ahead in blocks: walking thousands
// of small headers and entries then costs a few large reads, and seeks are
// only recorded until the next read needs bytes the block does not hold.
// Bytes once read ahead are served from the block; the archive is opened
// denying writers, so they cannot go stale under it.
class THandleStream32 : public TStream32 {
public:
    explicit THandleStream32(int handle) : handle_(handle) {}
    ~THandleStream32() override { handle_ = -1; }

    int Handle() const { return handle_; }

    using TStream32::SetSize;
    void SetSize(int64_t newSize) override;  // EOSError when the system refuses
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, uint16_t origin) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

protected:
    static constexpr int32_t kReadAheadBytes = 64 * 1024;
    void EnableReadAhead() { readAhead_ = std::make_unique<ReadAhead>(); }
    void DisableReadAhead() { readAhead_.reset(); }
    // Drops the read-ahead block and puts the handle where the reader is.
    bool SyncHandle();

    int handle_;

private:
    struct ReadAhead {
        std::unique_ptr<uint8_t[]> bytes = std::make_unique<uint8_t[]>(kReadAheadBytes);
        int64_t start = 0;     // file offset of bytes[0]
        int32_t fill = 0;      // bytes held
        int64_t position = 0;  // the reader's position
        int64_t handleAt = 0;  // where the handle stands
    };
    int32_t ReadBuffered(uint8_t* buffer, int32_t count);
    int64_t ReadAt(int64_t position, uint8_t* buffer, int32_t count);

    std::unique_ptr<ReadAhead> readAhead_;
};

// Opens or creates a named file and owns its handle. Construction never
// raises: a negative Handle() is the failure, and the caller words it.
class TFileStream32 : public THandleStream32 {
public:
    TFileStream32(const std::string& fileName, uint16_t mode);
    // Takes over a handle opened elsewhere (-1 for none), for writing.
    explicit TFileStream32(int ownedHandle) : THandleStream32(ownedHandle) {}
    ~TFileStream32() override;

    // Closes the handle now, so that a failing close can be reported; false
    // when the system refuses. The handle is -1 afterwards either way.
    bool Close();
};
