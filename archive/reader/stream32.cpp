#include "archive/reader/stream32.h"

#include <algorithm>
#include <vector>

#include "archive/format/archive_exceptions.h"
#include "platform/message_pump.h"

namespace {
constexpr int64_t kCopyBlockSize = 61440;
}

int64_t TStream32::GetSize() {
    const int64_t position = Seek(int64_t{0}, TSeekOrigin::soCurrent);
    const int64_t size = Seek(int64_t{0}, TSeekOrigin::soEnd);
    Seek(position, TSeekOrigin::soBeginning);
    return size;
}

void TStream32::SetSize(int32_t newSize) { SetSize(static_cast<int64_t>(newSize)); }

void TStream32::SetSize(int64_t /*newSize*/) {}

int32_t TStream32::Seek(int32_t offset, uint16_t origin) {
    const auto position = Seek(static_cast<int64_t>(offset), static_cast<TSeekOrigin>(origin));
    return static_cast<int32_t>(position);
}

void TStream32::ReadBuffer(void* buffer, int32_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream32::WriteBuffer(const void* buffer, int32_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream32::CopyFrom(TStream32& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t result = count;
    if (count <= 0) return result;

    bool neverCancelled = false;
    const bool& cancelled = CancelRef ? *CancelRef : neverCancelled;
    std::vector<char> block(static_cast<size_t>(std::min(count, kCopyBlockSize)));
    const auto blockSize = static_cast<int64_t>(block.size());
    while (count > 0 && !cancelled) {
        const auto n = static_cast<int32_t>(std::min(blockSize, count));
        platform::ProcessMessages();
        if (cancelled) break;
        source.ReadBuffer(block.data(), n);
        WriteBuffer(block.data(), n);
        count -= n;
    }
    return result;
}
