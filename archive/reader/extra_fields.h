#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/file_times.h"

class ByteSource;

// The blocks of one extra field as stored after a header's name: a 2-byte
// tag, a 2-byte data size and the data. A block running past the field ends it.
class TExtraField {
public:
    TExtraField() = default;
    explicit TExtraField(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    static TExtraField Read(ByteSource& source, int64_t position, uint16_t length);

    // The data of the first whole block with this tag.
    std::optional<std::span<const uint8_t>> Find(uint16_t tag) const;

    // The name of an Info-ZIP Unicode Path block (version 1) written for this
    // very stored name: one whose CRC-32 of the stored name matches. A tool
    // that renamed the entry without updating the block leaves a stale one.
    std::optional<std::string> UnicodePath(const std::string& storedName) const;

    // The modification time in UTC from the extended timestamp, else the NTFS
    // times, else the old Info-ZIP Unix field.
    std::optional<platform::UtcFileTime> ModificationTime() const;

private:
    std::vector<uint8_t> bytes_;
};
