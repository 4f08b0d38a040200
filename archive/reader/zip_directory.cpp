#include "archive/reader/zip_directory.h"

#include "platform/file_system.h"
#include "platform/oem_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t kEndSearchRange = 65535 + 22;  // the end record and the longest comment
constexpr int64_t kZip64RecordsSize = 76;          // zip64 end record and locator before it
constexpr int64_t kForwardWindow = 32768;
constexpr int kForwardWindows = 4;
constexpr uint16_t kUtf8NameFlag = 0x0800;
constexpr uint8_t kMadeOnUnix = 3;

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

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        size_t length;
        uint32_t lowest;
        uint32_t code;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, lowest = 0x80, code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, lowest = 0x800, code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, lowest = 0x10000, code = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace

int64_t LocateZipDirectory(ByteSource& source, ArchiveFacts& facts) {
    const int64_t size = source.Size();
    if (size <= 0) return 0;
    facts.HeaderState.Clear();
    // The end record may sit anywhere a comment of up to 65,535 bytes leaves it;
    // the zip64 records right before it are read from the same tail.
    const int64_t tailSize = std::min(size, kEndSearchRange + kZip64RecordsSize);
    std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
    const size_t got = source.ReadAt(size - tailSize, tail.data(), tail.size());
    tail.resize(got);

    // Backwards from the last place a 22-byte record fits.
    int64_t hit = -1;
    bool wide = false;
    const int64_t lowest = std::max<int64_t>(0, static_cast<int64_t>(got) - kEndSearchRange);
    for (int64_t j = static_cast<int64_t>(got) - static_cast<int64_t>(TZipEndRecord::kSize); j >= lowest; --j) {
        if (tail[j] == 'P' && IsEndRecordAt(&tail[j], got - static_cast<size_t>(j), wide)) {
            hit = j;
            break;
        }
    }
    if (hit < 0) return 0;

    facts.HeaderState = {htEnding};
    const int64_t endPosition = size - tailSize + hit;
    const uint8_t* end = &tail[static_cast<size_t>(hit)];
    if (hit >= 20 && LoadLe32(end - 20) == kZip64LocatorSignature) {
        facts.HeaderState.Include(htLocator);
        if (hit >= 76 && LoadLe32(end - 76) == kZip64EndSignature) facts.HeaderState.Include(htEnding64);
    }
    // Where the directory says it starts, and where it must start when it ends
    // right before the record that describes it: the two differ by the bytes
    // put in front of an archive whose offsets were not adjusted.
    int64_t stored;
    int64_t fromEnd;
    if (wide) {
        StoreWideEndRecord(end, facts);
        facts.CommentStart = endPosition + static_cast<int64_t>(TZipEndRecord::kSize26);
        const uint64_t position = TZipEndRecord::Parse26(end).directoryPosition;
        stored = position > static_cast<uint64_t>(size) ? -1 : static_cast<int64_t>(position);
        fromEnd = endPosition - facts.End().directorySize;
    } else {
        std::memcpy(facts.EndArea.data(), end, TZipEndRecord::kSize);
        facts.CommentStart = endPosition + static_cast<int64_t>(TZipEndRecord::kSize);
        if (facts.HeaderState.Contains(htLocator))
            std::memcpy(facts.Zip64LocatorArea.data(), end - 20, TZip64Locator::kSize);
        if (facts.HeaderState.Contains(htEnding64)) {
            std::memcpy(facts.Zip64EndArea.data(), end - 76, TZip64EndRecord::kSize);
            // The zip64 record is taken where it lies, not where the locator
            // says, so that prepended bytes do not hide it. Both values come
            // from the file: checked before they are used.
            const int64_t record = endPosition - 76;
            const TZip64EndRecord zip64 = facts.Zip64End();
            stored = zip64.directoryOffset <= static_cast<uint64_t>(size) ? static_cast<int64_t>(zip64.directoryOffset)
                                                                          : -1;
            fromEnd = zip64.directorySize <= static_cast<uint64_t>(record)
                          ? record - static_cast<int64_t>(zip64.directorySize)
                          : -1;
        } else {
            stored = facts.End().directoryOffset;
            fromEnd = endPosition - facts.End().directorySize;
        }
    }

    int64_t directory = stored;
    facts.OffsetAdjust = 0;
    if (!(ReadCentralAt(source, stored, facts) && IsCentralHeader(facts.Central().signature))) {
        directory = fromEnd;
        if (!(ReadCentralAt(source, fromEnd, facts) && IsCentralHeader(facts.Central().signature)))
            return SearchLocalHeader(source, facts, std::min(kForwardWindow, size - 1));
        facts.OffsetAdjust = stored >= 0 ? fromEnd - stored : 0;
    }

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
    std::string name(storedLength, '\0');
    name.resize(source.ReadAt(position, name.data(), name.size()));
    name.resize(std::min(name.find('\0'), name.size()));
    return name;
}

std::string TranslateEntryName(const std::string& rawName, const EntryNameOrigin& origin, bool translateOemChar) {
    std::string name;
    if (origin.unicodePath)
        name = *origin.unicodePath;
    else if ((origin.flags & kUtf8NameFlag) || ((origin.versionMadeBy >> 8) == kMadeOnUnix && IsValidUtf8(rawName)))
        name = rawName;
    else
        name = translateOemChar ? platform::OemToUtf8(rawName) : rawName;
    std::replace(name.begin(), name.end(), '\\', platform::kPathSeparator);
    std::replace(name.begin(), name.end(), '/', platform::kPathSeparator);
    return name;
}
