#include "archive/reader/entry_data_stream.h"

#include <algorithm>

int32_t TEntryDataStream::Read(void* buffer, int32_t count) {
    if (left_) count = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(std::max(count, 0)), *left_));
    const int32_t got = count > 0 ? source_->Read(buffer, count) : 0;
    if (left_ && got > 0) *left_ -= static_cast<uint64_t>(got);
    return got;
}
