#pragma once

#include <string>

#include "archive/reader/stream32.h"

// Collects the decoded data of a symbolic-link entry, its target, in memory:
// a link is made from it, never a file holding it.
class TLinkTargetStream : public TStream32 {
public:
    using TStream32::Seek;

    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        if (count <= 0) return 0;
        text_.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return static_cast<int64_t>(text_.size()); }

    const std::string& Text() const { return text_; }

private:
    std::string text_;
};
