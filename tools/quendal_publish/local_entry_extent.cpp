#include "tools/quendal_publish/local_entry_extent.h"

#include <array>
#include <vector>

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint16_t kZip64Tag = 0x0001;
constexpr uint16_t kHasDescriptor = 1 << 3;
constexpr size_t kLocalHeaderSize = 30;

uint32_t Little(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

bool ReadAt(platform::File& file, int64_t position, void* buffer, size_t count) {
    return file.Seek(position, platform::File::Origin::Begin) == position &&
           file.Read(buffer, count) == static_cast<int64_t>(count);
}

// True when the extra field holds a zip64 block: the descriptor then carries
// 8-byte sizes.
bool HasZip64Block(const std::vector<uint8_t>& extra) {
    for (size_t at = 0; at + 4 <= extra.size();) {
        const uint16_t tag = static_cast<uint16_t>(Little(&extra[at], 2));
        const uint16_t size = static_cast<uint16_t>(Little(&extra[at + 2], 2));
        if (tag == kZip64Tag) return true;
        at += 4 + size;
    }
    return false;
}

}  // namespace

std::optional<uint64_t> LocalEntryLength(platform::File& archive, int64_t localPosition, uint64_t packedSize) {
    const int64_t fileSize = archive.Size();
    std::array<uint8_t, kLocalHeaderSize> header;
    if (localPosition < 0 || !ReadAt(archive, localPosition, header.data(), header.size()) ||
        Little(&header[0], 4) != kLocalHeaderSignature) {
        return std::nullopt;
    }
    const uint16_t flags = static_cast<uint16_t>(Little(&header[6], 2));
    const uint16_t nameLength = static_cast<uint16_t>(Little(&header[26], 2));
    const uint16_t extraLength = static_cast<uint16_t>(Little(&header[28], 2));
    std::vector<uint8_t> extra(extraLength);
    if (extraLength > 0 && !ReadAt(archive, localPosition + kLocalHeaderSize + nameLength, extra.data(), extraLength))
        return std::nullopt;

    uint64_t length = kLocalHeaderSize + nameLength + extraLength + packedSize;
    if (flags & kHasDescriptor) {
        // CRC and the two sizes, after a signature most writers put first.
        uint8_t signature[4];
        if (!ReadAt(archive, localPosition + static_cast<int64_t>(length), signature, sizeof signature))
            return std::nullopt;
        if (Little(signature, 4) == kDescriptorSignature) length += 4;
        length += 4 + (HasZip64Block(extra) ? 16 : 8);
    }
    if (length > static_cast<uint64_t>(fileSize - localPosition)) return std::nullopt;
    return length;
}
