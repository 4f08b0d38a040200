#include "archive/directory/zip_directory.h"

#include "platform/file_system.h"
#include "platform/oem_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t kSearchWindow = 32768;
constexpr int kForwardWindows = 4;
constexpr size_t kMaxNameBytes = 255;
constexpr uint16_t kUtf8NameFlag = 0x0800;

bool IsEndRecordAt(const uint8_t* p, size_t room, bool& wide) {
    const uint32_t signature = LoadLe32(p);
    if (signature == kEndSignature) {
        wide = false;
        return true;
    }
    // The scrambled forms (0x06054C50, 0x06055C50) are not taken: their
    // fields would have to be deciphered first.
    wide = true;
    return signature == kEnd26Signature && room >= TZipEndRecord::kSize26;
}

// The local-header search from the start of the file, used when there is no
// usable central directory.
int64_t SearchLocalHeader(ByteSource& source, ArchiveFacts& facts, int64_t window) {
    std::vector<uint8_t> buffer(static_cast<size_t>(window));
    for (int index = 0; index < kForwardWindows; ++index) {
        const size_t got = source.ReadAt(index * window, buffer.data(), buffer.size());
        if (got == 0) return index == 0 ? 0 : -1;
        for (size_t p = 0; p + 4 <= got; ++p) {
            if (buffer[p] == 'P' && LoadLe32(&buffer[p]) == kLocalSignature) {
                facts.HeaderState = {htLocal};
                return index * window + static_cast<int64_t>(p);
            }
        }
    }
    return -1;
}

bool ReadCentralAt(ByteSource& source, int64_t position, ArchiveFacts& facts) {
    return position >= 0 && source.ReadExactly(position, facts.CentralArea.data(), facts.CentralArea.size());
}

// The 26-byte end record fills the 22-byte work area: its first 16 bytes are
// shared, the low half of its directory position stands in for the directory
// offset, and its comment length follows.
void StoreWideEndRecord(const uint8_t* record, ArchiveFacts& facts) {
    std::memcpy(facts.EndArea.data(), record, 20);
    std::memcpy(facts.EndArea.data() + 20, record + 24, 2);
}

}  // namespace

int64_t LocateZipDirectory(ByteSource& source, ArchiveFacts& facts) {
    const int64_t size = source.Size();
    if (size <= 0) return 0;
    const int64_t window = size > kSearchWindow ? kSearchWindow : size - 1;
    facts.HeaderState.Clear();
    std::vector<uint8_t> tail(static_cast<size_t>(window));
    const size_t got = source.ReadAt(size - window, tail.data(), tail.size());
    tail.resize(got);

    // Backwards from the last place a 22-byte record fits; position 0 of the
    // window is never examined.
    int64_t hit = -1;
    bool wide = false;
    for (int64_t j = static_cast<int64_t>(got) - static_cast<int64_t>(TZipEndRecord::kSize); j >= 1; --j) {
        if (tail[j] == 'P' && IsEndRecordAt(&tail[j], got - static_cast<size_t>(j), wide)) {
            hit = j;
            break;
        }
    }
    if (hit < 0) return 0;

    facts.HeaderState = {htEnding};
    const int64_t endPosition = size - window + hit;
    const uint8_t* end = &tail[static_cast<size_t>(hit)];
    if (hit >= 20 && LoadLe32(end - 20) == kZip64LocatorSignature) {
        facts.HeaderState.Include(htLocator);
        if (hit >= 76 && LoadLe32(end - 76) == kZip64EndSignature) facts.HeaderState.Include(htEnding64);
    }
    int64_t directory;
    if (wide) {
        StoreWideEndRecord(end, facts);
        facts.CommentStart = endPosition + static_cast<int64_t>(TZipEndRecord::kSize26);
        const uint64_t position = TZipEndRecord::Parse26(end).directoryPosition;
        directory = position > static_cast<uint64_t>(size) ? -1 : static_cast<int64_t>(position);
    } else {
        std::memcpy(facts.EndArea.data(), end, TZipEndRecord::kSize);
        facts.CommentStart = endPosition + static_cast<int64_t>(TZipEndRecord::kSize);
        if (facts.HeaderState.Contains(htLocator))
            std::memcpy(facts.Zip64LocatorArea.data(), end - 20, TZip64Locator::kSize);
        if (facts.HeaderState.Contains(htEnding64)) {
            std::memcpy(facts.Zip64EndArea.data(), end - 76, TZip64EndRecord::kSize);
            // Checked before subtracting: both values come from the file.
            const uint64_t record = facts.Zip64Locator().endRecordPosition;
            const uint64_t length = facts.Zip64End().directorySize;
            directory = record <= static_cast<uint64_t>(size) && length <= record ? static_cast<int64_t>(record - length)
                                                                                   : -1;
        } else {
            directory = endPosition - facts.End().directorySize;
        }
    }
    const TZipEndRecord endRecord = facts.End();
    const int64_t fromEnd = endPosition - endRecord.directorySize;
    if (!ReadCentralAt(source, directory, facts)) {
        directory = fromEnd;
        if (!ReadCentralAt(source, directory, facts)) return 0;
    }

    if (IsCentralHeader(facts.Central().signature)) {
        facts.OffsetAdjust = 0;
    } else {
        directory = fromEnd;
        if (!ReadCentralAt(source, directory, facts)) return 0;
        facts.OffsetAdjust = IsCentralHeader(facts.Central().signature)
                                 ? directory - static_cast<int64_t>(endRecord.directoryOffset)
                                 : 0;
    }

    if (!IsCentralHeader(facts.Central().signature)) return SearchLocalHeader(source, facts, window);

    facts.HeaderState.Include(htCentral);
    const int64_t localPosition = static_cast<int64_t>(facts.Central().localHeaderOffset) + facts.OffsetAdjust;
    if (localPosition >= 0 && source.ReadExactly(localPosition, facts.LocalArea.data(), facts.LocalArea.size()) &&
        IsLocalHeader(facts.Local().signature))
        facts.HeaderState.Include(htLocal);
    return directory;
}

ExtraFieldHighWords ReadExtraField(ByteSource& source, int64_t position, uint16_t length, ExtraFieldKind kind,
                                   uint32_t& uncompressedSize, uint32_t& compressedSize, uint32_t* localOffset) {
    ExtraFieldHighWords high;
    const int64_t inFile = std::clamp<int64_t>(source.Size() - position, 0, length);
    std::vector<uint8_t> field(static_cast<size_t>(inFile));
    field.resize(source.ReadAt(position, field.data(), field.size()));
    size_t at = 0;
    size_t left = field.size();
    while (left >= 4) {
        const uint16_t tag = LoadLe16(&field[at]);
        const size_t dataSize = LoadLe16(&field[at + 2]);
        at += 4;
        left -= 4;
        const size_t usable = std::min(dataSize, left);  // a block running past the field ends it
        const uint8_t* data = &field[at];
        size_t used = 0;
        auto take64 = [&](uint32_t& low, uint16_t* highWord) {
            if (low != kZip64Deferred || used + 8 > usable) return;
            low = LoadLe32(data + used);
            if (highWord) *highWord = LoadLe16(data + used + 4);
            used += 8;
        };
        if (tag == 0x0001) {
            take64(uncompressedSize, &high.uncompressedHigh);
            take64(compressedSize, &high.compressedHigh);
            if (kind == ExtraFieldKind::Central && localOffset) take64(*localOffset, &high.offsetHigh);
        } else if (tag == 0x0064) {
            const size_t words = kind == ExtraFieldKind::Central ? 3 : 2;
            if (usable >= words * 2) {
                high.compressedHigh = LoadLe16(data);
                high.uncompressedHigh = LoadLe16(data + 2);
                if (words == 3) high.offsetHigh = LoadLe16(data + 4);
            }
        }
        at += usable;
        left -= usable;
        if (dataSize > usable) break;
    }
    return high;
}

std::string ReadEntryName(ByteSource& source, int64_t position, uint16_t storedLength) {
    char buffer[kMaxNameBytes];
    const size_t got = source.ReadAt(position, buffer, std::min<size_t>(storedLength, kMaxNameBytes));
    return std::string(buffer, strnlen(buffer, got));
}

std::string TranslateEntryName(const std::string& rawName, uint16_t flags, bool translateOemChar) {
    std::string name = translateOemChar && !(flags & kUtf8NameFlag) ? platform::OemToUtf8(rawName) : rawName;
    std::replace(name.begin(), name.end(), '\\', platform::kPathSeparator);
    std::replace(name.begin(), name.end(), '/', platform::kPathSeparator);
    return name;
}
