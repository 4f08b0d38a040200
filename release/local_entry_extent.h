#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file.h"

namespace release {

// An entry's local header: its fixed fields, its name as stored, and the
// sizes it records (a zip64 block's where the header holds 0xFFFFFFFF).
struct LocalHeader {
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    uint32_t crc32 = 0;
    uint64_t packedSize = 0;
    std::string name;
    uint16_t extraLength = 0;
    bool zip64 = false;  // a zip64 block in the extra field: a data descriptor then carries 8-byte sizes

    static constexpr uint32_t kFixedSize = 30;
    uint64_t DataOffset() const { return kFixedSize + name.size() + extraLength; }  // from the header's start
    bool HasDescriptor() const { return (flags & (1 << 3)) != 0; }
};

// The data descriptor that follows an entry's data when flag bit 3 is set.
struct DataDescriptor {
    uint32_t crc32 = 0;
    uint64_t packedSize = 0;
    uint32_t length = 0;  // its bytes, the optional signature included
};

// Nothing when no local header stands at position or it runs past the end of
// the file.
std::optional<LocalHeader> ReadLocalHeader(platform::File& archive, int64_t position);

// The descriptor after packedSize bytes of data of the entry whose header
// stands at position. Nothing when it runs past the end of the file.
std::optional<DataDescriptor> ReadDataDescriptor(platform::File& archive, int64_t position, const LocalHeader& header,
                                                 uint64_t packedSize);

// The bytes of one entry in its archive: local header, name, extra field,
// compressed data and the data descriptor that follows when flag bit 3 is
// set. Nothing when no local header stands at localPosition or the extent
// runs past the end of the file.
std::optional<uint64_t> LocalEntryLength(platform::File& archive, int64_t localPosition, uint64_t packedSize);

}  // namespace release
