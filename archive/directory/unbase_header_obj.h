#pragma once

#include "archive/directory/zip_records.h"
#include "platform/file_times.h"
#include "platform/object.h"

#include <array>
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

// One selected entry: its record, the copy of its central header that the
// extraction loop restores into the central work area, and the facts a
// listing shows.
struct TUnBaseHeader {
    TZipEntryRecord Record;
    std::optional<std::array<uint8_t, TZipCentralHeader::kSize>> CentralCopy;  // none from the local walk
    std::string Name;  // the translated entry name
    std::string RawName;  // the name as the central header stores it; empty from the local walk
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint32_t Crc32 = 0;
    uint32_t DosDateTime = 0;
    std::optional<platform::UtcFileTime> ModificationTime;  // from the extra field, when stored there
    uint64_t PackedSize = 0;    // compressed size with its high part
    uint64_t UnpackedSize = 0;  // uncompressed size with its high part
};

// The list of entries one extraction run selects, in directory order.
class TUnBaseHeaderObj : public TObject {
public:
    void Add(TUnBaseHeader entry) { entries_.push_back(std::move(entry)); }
    // Room for the entries a directory announces, so that a long list is not
    // copied over while it grows.
    void Reserve(size_t count) { entries_.reserve(count); }
    int Count() const { return static_cast<int>(entries_.size()); }
    const TUnBaseHeader& operator[](int index) const { return entries_[static_cast<size_t>(index)]; }
    const std::vector<TUnBaseHeader>& Entries() const { return entries_; }
    std::vector<TUnBaseHeader> TakeEntries() { return std::move(entries_); }

private:
    std::vector<TUnBaseHeader> entries_;
};
