#include "release/local_entry_extent.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace release {

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint16_t kZip64Tag = 0x0001;
constexpr uint32_t kSizeInZip64Block = 0xFFFFFFFF;

uint64_t Little(const uint8_t* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

bool ReadAt(platform::File& file, uint64_t position, void* buffer, size_t count) {
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    const auto at = static_cast<int64_t>(position);
    return file.Seek(at, platform::File::Origin::Begin) == at &&
           file.Read(buffer, count) == static_cast<int64_t>(count);
}

// The zip64 block's data, empty when the extra field holds none. A block
// claiming more bytes than the field has is cut at the field's end.
std::vector<uint8_t> Zip64Block(const std::vector<uint8_t>& extra, bool& found) {
    found = false;
    for (size_t at = 0; at + 4 <= extra.size();) {
        const auto tag = static_cast<uint16_t>(Little(&extra[at], 2));
        const auto size = static_cast<size_t>(Little(&extra[at + 2], 2));
        const size_t end = std::min(extra.size(), at + 4 + size);
        if (tag == kZip64Tag) {
            found = true;
            return {extra.begin() + static_cast<ptrdiff_t>(at + 4), extra.begin() + static_cast<ptrdiff_t>(end)};
        }
        at += 4 + size;
    }
    return {};
}

}  // namespace

std::optional<LocalHeader> ReadLocalHeader(platform::File& archive, int64_t position) {
    std::array<uint8_t, LocalHeader::kFixedSize> fixed;
    if (position < 0 || !ReadAt(archive, static_cast<uint64_t>(position), fixed.data(), fixed.size()) ||
        Little(&fixed[0], 4) != kLocalHeaderSignature) {
        return std::nullopt;
    }
    LocalHeader header;
    header.versionNeeded = static_cast<uint16_t>(Little(&fixed[4], 2));
    header.flags = static_cast<uint16_t>(Little(&fixed[6], 2));
    header.method = static_cast<uint16_t>(Little(&fixed[8], 2));
    header.time = static_cast<uint16_t>(Little(&fixed[10], 2));
    header.date = static_cast<uint16_t>(Little(&fixed[12], 2));
    header.crc32 = static_cast<uint32_t>(Little(&fixed[14], 4));
    header.packedSize = Little(&fixed[18], 4);
    header.name.resize(Little(&fixed[26], 2));
    header.extraLength = static_cast<uint16_t>(Little(&fixed[28], 2));
    std::vector<uint8_t> extra(header.extraLength);
    const uint64_t namePosition = static_cast<uint64_t>(position) + LocalHeader::kFixedSize;
    if (!ReadAt(archive, namePosition, header.name.data(), header.name.size()) ||
        !ReadAt(archive, namePosition + header.name.size(), extra.data(), extra.size())) {
        return std::nullopt;
    }
    // A local zip64 block holds both sizes, the uncompressed one first.
    const std::vector<uint8_t> zip64 = Zip64Block(extra, header.zip64);
    if (header.packedSize == kSizeInZip64Block && zip64.size() >= 16) header.packedSize = Little(&zip64[8], 8);
    return header;
}

std::optional<DataDescriptor> ReadDataDescriptor(platform::File& archive, int64_t position, const LocalHeader& header,
                                                 uint64_t packedSize) {
    if (position < 0) return std::nullopt;
    const uint64_t dataEnd = static_cast<uint64_t>(position) + header.DataOffset() + packedSize;
    if (dataEnd < packedSize) return std::nullopt;
    // CRC and the two sizes, after a signature most writers put first.
    std::array<uint8_t, 24> bytes;
    const uint32_t bodySize = header.zip64 ? 20 : 12;
    if (!ReadAt(archive, dataEnd, bytes.data(), 4)) return std::nullopt;
    const uint32_t signatureSize = Little(bytes.data(), 4) == kDescriptorSignature ? 4 : 0;
    if (!ReadAt(archive, dataEnd + signatureSize, bytes.data(), bodySize)) return std::nullopt;
    DataDescriptor descriptor;
    descriptor.crc32 = static_cast<uint32_t>(Little(&bytes[0], 4));
    descriptor.packedSize = Little(&bytes[4], header.zip64 ? 8 : 4);
    descriptor.length = signatureSize + bodySize;
    return descriptor;
}

std::optional<uint64_t> LocalEntryLength(platform::File& archive, int64_t localPosition, uint64_t packedSize) {
    const std::optional<LocalHeader> header = ReadLocalHeader(archive, localPosition);
    if (!header) return std::nullopt;
    uint64_t length = header->DataOffset() + packedSize;
    if (header->HasDescriptor()) {
        const std::optional<DataDescriptor> descriptor =
            ReadDataDescriptor(archive, localPosition, *header, packedSize);
        if (!descriptor) return std::nullopt;
        length += descriptor->length;
    }
    const int64_t fileSize = archive.Size();
    if (fileSize < localPosition || length < packedSize || length > static_cast<uint64_t>(fileSize - localPosition))
        return std::nullopt;
    return length;
}

}  // namespace release
