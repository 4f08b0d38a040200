#pragma once

#include "archive/zip_records.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where an entry lies: its external attributes (0 for entries found by the
// local walk), its disk (1-based) and the position of its local header.
struct TZipEntryRecord {
    uint32_t Attributes = 0;
    uint16_t Disk = 1;
    int64_t LocalPosition = 0;
};

// One selected entry with what the listing and the extraction loop need.
struct TUnBaseHeader {
    TZipEntryRecord Record;
    std::optional<TZipCentralHeader> Central;  // copy of the central header; none from the local walk
    std::string Name;                          // the translated entry name
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint32_t Crc32 = 0;
    uint32_t DosDateTime = 0;
    uint64_t PackedSize = 0;    // compressed size with its high part
    uint64_t UnpackedSize = 0;  // uncompressed size with its high part
};

// The entries selected for one extraction run, in directory order.
class TUnBaseHeaderObj {
public:
    void Add(TUnBaseHeader entry) { entries_.push_back(std::move(entry)); }
    int Count() const { return static_cast<int>(entries_.size()); }
    const TUnBaseHeader& operator[](int index) const { return entries_[static_cast<size_t>(index)]; }
    const std::vector<TUnBaseHeader>& Entries() const { return entries_; }
    void Clear() { entries_.clear(); }

private:
    std::vector<TUnBaseHeader> entries_;
};
