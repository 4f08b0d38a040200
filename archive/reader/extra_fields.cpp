#include "archive/reader/extra_fields.h"

#include <algorithm>

#include "archive/reader/byte_source.h"
#include "archive/format/zip_records.h"
#include "archive/format/crc.h"

namespace {

constexpr uint16_t kNtfsTimes = 0x000a;
constexpr uint16_t kExtendedTimestamp = 0x5455;
constexpr uint16_t kUnicodePath = 0x7075;
constexpr uint16_t kInfoZipUnixOld = 0x5855;

constexpr int64_t kFileTimeTicksPerSecond = 10'000'000;
constexpr int64_t kFileTimeToUnixEpoch = 11'644'473'600;  // seconds from 1601-01-01 to 1970-01-01

}  // namespace

TExtraField TExtraField::Read(ByteSource& source, int64_t position, uint16_t length) {
    std::vector<uint8_t> bytes(length);
    bytes.resize(source.ReadAt(position, bytes.data(), bytes.size()));
    return TExtraField(std::move(bytes));
}

std::optional<std::span<const uint8_t>> TExtraField::Find(uint16_t tag) const {
    size_t at = 0;
    while (at + 4 <= bytes_.size()) {
        const uint16_t blockTag = LoadLe16(&bytes_[at]);
        const size_t size = LoadLe16(&bytes_[at + 2]);
        at += 4;
        if (size > bytes_.size() - at) break;
        if (blockTag == tag) return std::span<const uint8_t>(&bytes_[at], size);
        at += size;
    }
    return std::nullopt;
}

std::optional<std::string> TExtraField::UnicodePath(const std::string& storedName) const {
    const auto block = Find(kUnicodePath);
    if (!block || block->size() < 5 || (*block)[0] != 1) return std::nullopt;
    const uint32_t nameCrc = UpdateCrc32(0xFFFFFFFF, storedName.data(), storedName.size()) ^ 0xFFFFFFFF;
    if (LoadLe32(block->data() + 1) != nameCrc) return std::nullopt;
    std::string name(reinterpret_cast<const char*>(block->data() + 5), block->size() - 5);
    name.resize(std::min(name.find('\0'), name.size()));
    if (name.empty()) return std::nullopt;
    return name;
}

std::optional<platform::UtcFileTime> TExtraField::ModificationTime() const {
    // Extended timestamp: flags, then the modification time first when bit 0 is set.
    if (const auto block = Find(kExtendedTimestamp); block && block->size() >= 5 && ((*block)[0] & 1))
        return platform::UtcFileTime{LoadLe32(block->data() + 1), 0};
    // NTFS: 4 reserved bytes, then attributes; attribute 1 holds the
    // modification, access and creation times in 100 ns since 1601.
    if (const auto block = Find(kNtfsTimes); block && block->size() >= 4) {
        size_t at = 4;
        while (at + 4 <= block->size()) {
            const uint16_t tag = LoadLe16(block->data() + at);
            const size_t size = LoadLe16(block->data() + at + 2);
            at += 4;
            if (size > block->size() - at) break;
            if (tag == 1 && size >= 8) {
                const uint64_t ticks = LoadLe64(block->data() + at);
                const auto seconds = static_cast<int64_t>(ticks / kFileTimeTicksPerSecond) - kFileTimeToUnixEpoch;
                const auto nanoseconds = static_cast<uint32_t>(ticks % kFileTimeTicksPerSecond * 100);
                return platform::UtcFileTime{seconds, nanoseconds};
            }
            at += size;
        }
    }
    // Old Info-ZIP Unix field: access time, then modification time.
    if (const auto block = Find(kInfoZipUnixOld); block && block->size() >= 8)
        return platform::UtcFileTime{LoadLe32(block->data() + 4), 0};
    return std::nullopt;
}
