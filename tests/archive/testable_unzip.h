#pragma once

// A TUnZip whose run state the tests may set directly, standing in for the
// steps of an extraction run that set it.

#include <algorithm>
#include <string>

#include "archive/unzip.h"

class TestableUnZip : public TUnZip {
public:
    void SetArcTypeDirectly(TArcType type) { arcType_ = type; }
    void SetOutputPathDirectly(const std::string& path) { outputPath_ = path; }
    void SetFilesExtractedDirectly(int32_t count) { filesExtracted_ = count; }
    void SetBytesRemainingDirectly(int64_t count) { bytesRemaining_ = count; }
    void SetNewestDateDirectly(uint32_t date) { newestDate_ = date; }
    void SetEntryEncrypted(bool value) { entryEncrypted_ = value; }
    void SetRunningCrc(uint32_t crc) { runningCrc_ = crc; }
    // The 30-byte local header of the current entry, as the pipeline reads it.
    void SetLocalHeader(const std::string& bytes) {
        std::fill(localHeader_.begin(), localHeader_.end(), 0);
        std::copy_n(bytes.begin(), std::min(bytes.size(), localHeader_.size()), localHeader_.begin());
    }
};
