#pragma once

#include <cstdint>
#include <functional>

#include "platform/object.h"

enum class TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Root of the archive family's streams: a byte stream with 32- and 64-bit
// positioning, a copy that a shared cancel flag can stop, and a notification
// hook for streams that refill an input buffer.
//
// Descendants override Read, Write and the 64-bit Seek at least. A class that
// overrides only one variant of an overloaded operation should bring the other
// into scope with a using-declaration.
class TStream32 : public TObject {
public:
    TStream32() = default;
    ~TStream32() override = default;

    virtual int64_t GetSize();
    virtual void SetSize(int32_t newSize);  // forwards to the 64-bit variant
    virtual void SetSize(int64_t newSize);  // streams that cannot resize ignore it
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    // Origin 0 from the beginning, 1 from the current position, 2 from the end.
    virtual int32_t Seek(int32_t offset, uint16_t origin);
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    // Copies count bytes from source's current position, or all of source from
    // its start when count is 0. Pumps messages before every block and stops
    // when *CancelRef turns true; returns the count settled at the start.
    virtual int64_t CopyFrom(TStream32& source, int64_t count);

    // Read or Write once; EReadError / EWriteError when fewer bytes moved.
    void ReadBuffer(void* buffer, int32_t count);
    void WriteBuffer(const void* buffer, int32_t count);

    int64_t Position() { return Seek(int64_t{0}, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    int64_t Size() { return GetSize(); }

    // A flag owned elsewhere (normally the archive component's cancel flag);
    // null means CopyFrom is never cancelled.
    bool* CancelRef = nullptr;
    // Fired by streams that refill an input buffer, after each refill.
    std::function<void(TObject* sender)> OnInputRead;
};
