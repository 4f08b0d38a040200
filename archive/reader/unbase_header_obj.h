#pragma once

#include "archive/format/zip_records.h"
#include "platform/file_times.h"
#include "platform/object.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
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
// listing shows. The list keeps entries packed and hands them out in this form.
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

// The list of entries one extraction run selects, in directory order. An
// archive may hold hundreds of thousands of entries, so each is kept as a
// short run of bytes (see packed_entry.h) in blocks that are filled in turn
// and never moved; a full entry is rebuilt only when it is read.
class TUnBaseHeaderObj : public TObject {
    struct Position {
        uint32_t block = 0;
        uint32_t offset = 0;
    };

public:
    // Reads the entries in order, rebuilding one at a time.
    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = TUnBaseHeader;
        using difference_type = std::ptrdiff_t;
        using pointer = const TUnBaseHeader*;
        using reference = const TUnBaseHeader&;

        const_iterator() = default;
        const TUnBaseHeader& operator*() const { return current_; }
        const TUnBaseHeader* operator->() const { return &current_; }
        const_iterator& operator++();
        const_iterator operator++(int);
        bool operator==(const const_iterator& other) const { return index_ == other.index_; }

    private:
        friend class TUnBaseHeaderObj;
        const_iterator(const TUnBaseHeaderObj* list, size_t index, Position at);
        void Load();

        const TUnBaseHeaderObj* list_ = nullptr;
        size_t index_ = 0;
        Position next_;  // where the entry after the current one begins
        TUnBaseHeader current_;
    };

    TUnBaseHeaderObj() = default;
    TUnBaseHeaderObj(TUnBaseHeaderObj&& other) noexcept;
    TUnBaseHeaderObj& operator=(TUnBaseHeaderObj&& other) noexcept;

    void Add(const TUnBaseHeader& entry);
    // Room for the bookkeeping of the entries a directory announces.
    void Reserve(size_t count);
    int Count() const { return static_cast<int>(count_); }
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Rebuilds entry `index` (0 <= index < Count()); reading in order is cheaper.
    TUnBaseHeader operator[](int index) const;
    const_iterator begin() const;
    const_iterator end() const;

private:
    // Blocks are this large unless one entry needs more.
    static constexpr size_t kBlockSize = 64 * 1024;
    // Every so many entries the list notes where one begins, for operator[].
    static constexpr size_t kMarkInterval = 16;

    const uint8_t* At(Position at) const { return blocks_[at.block].data() + at.offset; }
    Position After(Position at, const uint8_t* end) const;

    std::vector<std::vector<uint8_t>> blocks_;  // each filled up to its reserved capacity, never reallocated
    std::vector<Position> marks_;  // where entries 0, kMarkInterval, 2 * kMarkInterval, ... begin
    size_t count_ = 0;
    std::vector<uint8_t> scratch_;  // the entry being added
};
