#include "platform/pe_string_table.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

constexpr uint32_t kStringResourceType = 6;
constexpr uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr uint16_t kMaxSections = 96;  // the loader's own limit

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Dword(const uint8_t* p) { return Word(p) | (static_cast<uint32_t>(Word(p + 2)) << 16); }

void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

std::string Utf16ToUtf8(const std::vector<uint8_t>& units) {
    std::string out;
    for (size_t i = 0; i + 1 < units.size(); i += 2) {
        uint32_t unit = Word(&units[i]);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < units.size()) {
            uint32_t low = Word(&units[i + 2]);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit < 0xE000) ? 0xFFFD : unit);
    }
    return out;
}

}  // namespace

bool PeStringTable::ReadAt(uint64_t offset, void* buffer, size_t count) {
    if (offset > static_cast<uint64_t>(fileSize_) || count > static_cast<uint64_t>(fileSize_) - offset)
        return false;
    if (file_.Seek(static_cast<int64_t>(offset), File::Origin::Begin) < 0) return false;
    return file_.Read(buffer, count) == static_cast<int64_t>(count);
}

bool PeStringTable::Open(const std::string& path) {
    sections_.clear();
    resourceRva_ = resourceSize_ = 0;
    if (!file_.Open(path, File::Mode::Read)) return false;
    fileSize_ = file_.Size();
    if (fileSize_ < 64) return false;

    uint8_t dos[64];
    if (!ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint32_t peOffset = Dword(dos + 0x3C);
    uint8_t coff[24];
    if (!ReadAt(peOffset, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return false;
    const uint16_t sectionCount = Word(coff + 4 + 2);
    const uint16_t optionalSize = Word(coff + 4 + 16);
    if (sectionCount > kMaxSections) return false;

    if (optionalSize < 2 || peOffset + 24ull + optionalSize > static_cast<uint64_t>(fileSize_)) return false;
    std::vector<uint8_t> optional(optionalSize);
    if (!ReadAt(peOffset + 24ull, optional.data(), optional.size())) return false;
    const uint16_t magic = Word(optional.data());
    size_t directoriesAt;
    if (magic == 0x10B)
        directoriesAt = 96;
    else if (magic == 0x20B)
        directoriesAt = 112;
    else
        return false;
    const size_t resourceEntryAt = directoriesAt + 2 * 8;  // data directory 2: resources
    if (resourceEntryAt + 8 > optional.size()) return false;
    resourceRva_ = Dword(&optional[resourceEntryAt]);
    resourceSize_ = Dword(&optional[resourceEntryAt + 4]);
    if (resourceRva_ == 0 || resourceSize_ == 0) return false;

    const uint64_t sectionTable = peOffset + 24ull + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        uint8_t header[40];
        if (!ReadAt(sectionTable + 40ull * i, header, sizeof header)) return false;
        sections_.push_back({Dword(header + 12), Dword(header + 8), Dword(header + 20), Dword(header + 16)});
    }
    return FileOffsetOf(resourceRva_, 16).has_value();
}

std::optional<uint64_t> PeStringTable::FileOffsetOf(uint32_t rva, uint32_t length) const {
    for (const Section& s : sections_) {
        const uint64_t extent = std::max(s.virtualSize, s.rawSize);
        if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
        const uint64_t inSection = rva - s.virtualAddress;
        // Only bytes actually stored in the file count.
        if (inSection + length > s.rawSize) return std::nullopt;
        const uint64_t offset = s.rawOffset + inSection;
        if (offset + length > static_cast<uint64_t>(fileSize_)) return std::nullopt;
        return offset;
    }
    return std::nullopt;
}

std::optional<uint32_t> PeStringTable::FindEntry(uint32_t directoryOffset, std::optional<uint32_t> id) {
    if (directoryOffset > resourceSize_ || resourceSize_ - directoryOffset < 16) return std::nullopt;
    auto at = FileOffsetOf(resourceRva_ + directoryOffset, 16);
    uint8_t header[16];
    if (!at || !ReadAt(*at, header, sizeof header)) return std::nullopt;
    const uint32_t named = Word(header + 12);
    const uint32_t total = named + Word(header + 14);
    for (uint32_t i = 0; i < total; ++i) {
        const uint64_t entryOffset = directoryOffset + 16ull + 8ull * i;
        if (entryOffset + 8 > resourceSize_) return std::nullopt;
        uint8_t entry[8];
        if (!ReadAt(*at + 16ull + 8ull * i, entry, sizeof entry)) return std::nullopt;
        const uint32_t name = Dword(entry);
        const bool byName = (name & kSubdirectoryFlag) != 0;
        if (!id || (!byName && name == *id)) return Dword(entry + 4);
    }
    return std::nullopt;
}

std::optional<std::string> PeStringTable::Load(uint16_t id) {
    if (sections_.empty()) return std::nullopt;
    // Three levels, each must lead to a subdirectory: type, block, language.
    auto types = FindEntry(0, kStringResourceType);
    if (!types || !(*types & kSubdirectoryFlag)) return std::nullopt;
    auto block = FindEntry(*types & ~kSubdirectoryFlag, id / 16u + 1u);
    if (!block || !(*block & kSubdirectoryFlag)) return std::nullopt;
    auto language = FindEntry(*block & ~kSubdirectoryFlag, std::nullopt);
    if (!language || (*language & kSubdirectoryFlag) || *language > resourceSize_ - 16) return std::nullopt;

    auto dataEntryAt = FileOffsetOf(resourceRva_ + *language, 16);
    uint8_t dataEntry[16];
    if (!dataEntryAt || !ReadAt(*dataEntryAt, dataEntry, sizeof dataEntry)) return std::nullopt;
    const uint32_t dataRva = Dword(dataEntry);
    const uint32_t dataSize = Dword(dataEntry + 4);
    auto dataAt = FileOffsetOf(dataRva, dataSize);
    if (!dataAt) return std::nullopt;

    // The block: 16 strings, each a 16-bit length in UTF-16 units and the units.
    uint64_t position = 0;
    for (unsigned slot = 0;; ++slot) {
        uint8_t lengthBytes[2];
        if (position + 2 > dataSize || !ReadAt(*dataAt + position, lengthBytes, 2)) return std::nullopt;
        const uint64_t length = Word(lengthBytes) * 2ull;
        position += 2;
        if (position + length > dataSize) return std::nullopt;
        if (slot == id % 16u) {
            if (length == 0) return std::nullopt;
            std::vector<uint8_t> units(length);
            if (!ReadAt(*dataAt + position, units.data(), units.size())) return std::nullopt;
            return Utf16ToUtf8(units);
        }
        position += length;
    }
}

}  // namespace platform
