#pragma once

#include "platform/file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Reads string resources of a Windows executable (PE) file as data, without
// loading it as a module, so it works on any platform. Every size and offset
// taken from the file is checked against the file before it is used.
class PeStringTable {
public:
    // Opens the file and finds its resource section; false when it is not a
    // PE file or has no resources.
    bool Open(const std::string& path);

    // String resource `id` converted to UTF-8, or nothing when the file has no
    // such string. Strings live in blocks of 16: block id / 16 + 1, slot id % 16.
    // The first language found for a block is used.
    std::optional<std::string> Load(uint16_t id);

private:
    struct Section {
        uint32_t virtualAddress;
        uint32_t virtualSize;
        uint32_t rawOffset;
        uint32_t rawSize;
    };
    bool ReadAt(uint64_t offset, void* buffer, size_t count);
    std::optional<uint64_t> FileOffsetOf(uint32_t rva, uint32_t length) const;
    // The entry `id` (or the first entry when id is empty) of the resource
    // directory at `directoryOffset` (relative to the resource root): its
    // offset field, or nothing.
    std::optional<uint32_t> FindEntry(uint32_t directoryOffset, std::optional<uint32_t> id);

    File file_;
    int64_t fileSize_ = 0;
    uint32_t resourceRva_ = 0;
    uint32_t resourceSize_ = 0;
    std::vector<Section> sections_;
};

}  // namespace platform
