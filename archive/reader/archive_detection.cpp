#include "archive/reader/archive_detection.h"

#include "archive/reader/zip_directory.h"
#include "archive/format/dos_date_time.h"
#include "platform/file_times.h"
#include "platform/pe_string_table.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr size_t kHeadBytes = 32767;
constexpr int64_t kScanBlock = 32768;
constexpr int kScanBlocks = 11;
constexpr int64_t kExecutableScanStart = 17000;
constexpr size_t kUuencodeBytes = 5000;

bool Equals(const uint8_t* bytes, const char* text) {
    return std::memcmp(bytes, text, std::strlen(text)) == 0;
}

bool EndsWithJar(const std::string& name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && slash > dot)) return false;
    std::string extension = name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".jar";
}

}  // namespace

bool IsZipFamilyWithDirectory(TArcType type) {
    return type == atJar || type == atJarExe || type == atZip || type == atZipExe;
}

ArchiveDetector::ArchiveDetector(ByteSource& source, std::string fileName, ArchiveFacts facts,
                                 SpannedDiskCheck checkSpannedDisk)
    : source_(source), fileName_(std::move(fileName)), facts_(facts), checkSpannedDisk_(std::move(checkSpannedDisk)) {}

TArcType ArchiveDetector::DetectArcType() {
    facts_.CommentStart = 0;
    facts_.OffsetAdjust = 0;
    facts_.ArchiveOffset = -1;
    facts_.HeaderState.Clear();
    facts_.ArchiveSize = source_.Size();

    TArcType result = atNA;
    if (facts_.ArchiveSize > 19) {
        std::vector<uint8_t> head(kHeadBytes, 0);
        const size_t got = source_.ReadAt(0, head.data(), head.size());
        if (got >= 2 && head[0] == 'M' && head[1] == 'Z') {
            result = DetectExecutable(head.data());
        } else {
            result = DetectPlain(head.data(), got);
            if (result == atFileOpenErr || result == atUnknown) return result;
        }
        if (IsRecognised(result) && facts_.ArchiveOffset == -1) facts_.ArchiveOffset = 0;
        if (result == atZip && EndsWithJar(fileName_)) result = atJar;
    }
    platform::LocalDateTime created;
    facts_.ArchiveDate =
        platform::GetFileCreationTime(fileName_, created) ? LocalToDosDateTime(created) : kDefaultDosDateTime;
    return result;
}

TArcType ArchiveDetector::DetectExecutable(const uint8_t* head) {
    TArcType result = ProbeSfxOffsets();
    if (IsRecognised(result)) return result;
    if (std::optional<TArcType> fromResources = ProbeResources()) return *fromResources;
    result = ProbeStubEnd(head);
    if (IsRecognised(result)) return result;

    std::fill_n(facts_.EndArea.begin(), 4, 0);  // the end record's signature
    facts_.ArchiveOffset = LocateZipDirectory();
    if (facts_.ArchiveOffset > 0) return atZipExe;
    const ScanResult scan = ScanForSignature(kExecutableScanStart);
    facts_.ArchiveOffset = scan.position;
    return scan.type;
}

TArcType ArchiveDetector::DetectPlain(const uint8_t* head, size_t headLength) {
    size_t zeros = 0;
    while (zeros < headLength && head[zeros] == 0) ++zeros;
    // A 128-byte Mac header in front of an LHA archive.
    if (head[0] == 0 && headLength - zeros > 132 && head[130] == '-' && head[131] == 'l') {
        facts_.ArchiveOffset = 128;
        return atLha;
    }

    TArcType result = zeros + 4 <= headLength ? ClassifySignature(head + zeros, false) : atNA;
    switch (result) {
        case atFileOpenErr:
        case atUnknown: return result;
        case atJar:
        case atJarExe:
        case atZip:
        case atZipExe:
            facts_.ArchiveOffset = LocateZipDirectory();
            if (!facts_.HeaderState.Contains(htLocal) && facts_.ArchiveOffset == 0) {
                facts_.ArchiveOffset = static_cast<int64_t>(zeros);
                facts_.HeaderState.Include(htLocal);
            }
            // The last part of a split archive may begin with a local header
            // of its own; its end record tells it from a one-part archive.
            if (result == atZip && facts_.HeaderState.Contains(htEnding) && facts_.End().thisDisk != 0 &&
                facts_.End().thisDisk != 0xFFFF)
                result = checkSpannedDisk_();
            break;
        case atZipDS:
        case atZipMV:
            facts_.ArchiveOffset = LocateZipDirectory();
            if (facts_.HeaderState.Empty()) facts_.HeaderState = {htLocal};
            break;
        default:
            if (HasAceMarkAt(head, headLength, 7)) result = atAce;
            break;
    }
    if (IsRecognised(result)) return result;

    if (HasAceMarkAt(head, headLength, 7)) return atAce;
    if (IsUuencoded()) return atUUE;
    if (IsTar()) return atTar;
    facts_.ArchiveOffset = LocateZipDirectory();
    if (facts_.ArchiveOffset > 0) return facts_.End().thisDisk == 0 ? atZip : checkSpannedDisk_();
    const ScanResult scan = ScanForSignature(0);
    facts_.ArchiveOffset = scan.position;
    return scan.type;
}

bool ArchiveDetector::HasAceMarkAt(const uint8_t* bytes, size_t length, size_t at) const {
    return at + 7 <= length && Equals(bytes + at, "**ACE**");
}

TArcType ArchiveDetector::ClassifySignature(const uint8_t* b, bool afterStub) {
    auto pick = [afterStub](TArcType plain, TArcType inExecutable) { return afterStub ? inExecutable : plain; };
    const uint8_t b0 = b[0], b1 = b[1], b2 = b[2], b3 = b[3];

    if (b0 == 0x42 && b1 == 0x48 && b2 == 0x05 && b3 == 0x07) return pick(atBh, atBhExe);
    if (Equals(b, "Rar!")) return pick(atRar, atRarExe);
    if (Equals(b, "PKG5")) return atUnknown;
    if (Equals(b, "MSCF")) return pick(atCab, atCabExe);
    if (b0 == 0xB7 && b1 == 0xDF && b2 == 0x54 && b3 == 0x57) {
        if (!afterStub) return atArc;
        facts_.ArchiveOffset = 7716;
        return atArcExe;
    }
    if (b0 == 0x13 && b1 == 0x5D && b2 == 0x65 && b3 == 0x8C) return pick(atMsGZ, atUnsupported);
    if (b2 == '-' && b3 == 'l') return pick(atLha, atLhaExe);

    if (b0 == 0x1A) {
        if (b1 == 0x02 || b1 == 0x1E) return pick(atArc, atUnsupported);
        if (b1 == 0x08 || b1 == 0x09) return pick(atArc, atArcExe);
        if (b1 == 0x0A || b1 == 0x0B) return pick(atPak, atPakExe);
    }
    const uint16_t pair = static_cast<uint16_t>(b0 << 8 | b1);
    for (uint16_t gzip : {0x1F1E, 0x2521, 0x1F8B, 0x1F9D, 0x1F9E, 0x1FA0})
        if (pair == gzip) return pick(atGZip, atUnsupported);
    if (b0 == 'H' && b1 == 'A') return pick(atHA, atUnsupported);
    if (b0 == 'P' && b1 >= 'K' && b1 <= 'N') {
        if (b2 == 0x01 && b3 == 0x02) {
            const TArcType type = checkSpannedDisk_();
            LocateZipDirectory();
            return type;
        }
        if (b2 == 0x07 && b3 == 0x08) return checkSpannedDisk_();
        if ((b2 == 'G' && b3 == '4') || (b2 == 'C' && b3 == 'I')) return atNA;
        return pick(atZip, atZipExe);
    }
    if (b0 == 'Z' && b1 == 'O') return pick(atZoo, atUnsupported);
    if (b0 == 0xB7 && (b1 == 0x92 || b1 == 0xDF)) {
        facts_.ArchiveOffset = 7716;
        return atArcExe;
    }
    if (b0 == 0x60 && b1 == 0xEA) return pick(atArj, atArjExe);
    return atNA;
}

int64_t ArchiveDetector::LocateZipDirectory() { return ::LocateZipDirectory(source_, facts_); }

TArcType ArchiveDetector::ProbeSfxOffsets() {
    const int64_t size = facts_.ArchiveSize;
    for (int64_t offset : {6674, 6867, 7716, 8601, 13138}) {
        if (size <= offset + 2) break;
        uint8_t b[2];
        if (!ReadExactly(offset, b, 2) || b[0] != 0x1A) continue;
        TArcType type = atNA;
        if (b[1] == 0x08 || b[1] == 0x09) type = atArcExe;
        if (b[1] == 0x0A || b[1] == 0x0B) type = atPakExe;
        if (type != atNA) {
            facts_.ArchiveOffset = offset;
            return type;
        }
    }
    // Of the six bytes at 1947 only the first five are compared.
    uint8_t lha[6];
    if (size > 1949 && source_.ReadAt(1947, lha, sizeof lha) >= 5 && lha[0] == '-' && lha[1] == 'l' &&
        lha[2] == 'h' && lha[4] == '-') {
        facts_.ArchiveOffset = 1945;
        return atLhaExe;
    }
    for (int64_t offset : {7612, 25661}) {
        uint8_t b[4];
        if (size > offset + 4 && ReadExactly(offset, b, 4) && LoadLe32(b) == kLocalSignature) {
            facts_.ArchiveOffset = offset;
            LocateZipDirectory();
            facts_.HeaderState = {htLocal};
            return atZipExe;
        }
    }
    return atNA;
}

std::optional<TArcType> ArchiveDetector::ProbeResources() {
    platform::PeStringTable resources;
    if (!resources.Open(fileName_)) return std::nullopt;
    for (uint16_t id = 1; id <= 7; ++id) {
        std::optional<std::string> text = resources.Load(id);
        if (!text || text->empty()) break;
        const std::string digits = text->substr(0, 5);  // what a six-character buffer holds
        if (digits.find_first_not_of("0123456789") != std::string::npos) break;
        const int64_t candidate = std::stoll(digits);
        if (candidate >= facts_.ArchiveSize) break;
        facts_.ArchiveOffset = candidate;
        uint8_t b[14];
        if (!ReadExactly(candidate, b, sizeof b)) continue;
        if (Equals(b + 7, "**ACE**")) return atAceExe;
        const TArcType type = ClassifySignature(b, true);
        if (type == atNA) continue;
        if (IsZipFamilyWithDirectory(type)) {
            facts_.ArchiveOffset = LocateZipDirectory();
            if (facts_.HeaderState.Empty()) facts_.ArchiveOffset = candidate;
        }
        return type;
    }
    return std::nullopt;
}

TArcType ArchiveDetector::ProbeStubEnd(const uint8_t* dosHeader) {
    const int64_t pages = LoadLe16(dosHeader + 4);
    int64_t end = (pages - 1) * 512 + LoadLe16(dosHeader + 2);
    if (end <= 0 || end + 4 >= facts_.ArchiveSize) return atNA;
    uint8_t b[4];
    if (!ReadExactly(end, b, 4)) return atNA;
    if (b[2] == 0x60 && b[3] == 0xEA) end += 2;
    facts_.ArchiveOffset = end;
    if (end + 4 < facts_.ArchiveSize && ReadExactly(end, b, 4) && LoadLe32(b) != kLocalSignature) {
        const TArcType type = ClassifySignature(b, true);
        if (IsRecognised(type)) return type;
    }
    return atNA;
}

ArchiveDetector::ScanResult ArchiveDetector::ScanForSignature(int64_t start) {
    ScanResult result;
    const int64_t size = facts_.ArchiveSize;
    if (start >= size) return result;
    std::vector<uint8_t> block(kScanBlock);
    for (int index = 0; index < kScanBlocks; ++index) {
        const int64_t blockStart = start + index * kScanBlock;
        const size_t got = source_.ReadAt(blockStart, block.data(), block.size());
        if (got == 0) break;
        const uint8_t* b = block.data();
        std::optional<ScanResult> hit;
        for (size_t p = 0; p < got && !hit; ++p) {
            const int64_t at = blockStart + static_cast<int64_t>(p);
            auto fits = [&](size_t count) { return p + count <= got; };
            auto found = [&](int64_t position, TArcType withStub, TArcType plain) {
                if (position >= 0) hit = ScanResult{position, position > 0 ? withStub : plain};
            };
            switch (b[p]) {
                case '*':
                    if (at + 5 < size && fits(5) && Equals(b + p + 1, "*ACE")) found(at - 7, atAceExe, atAce);
                    break;
                case 'M':
                    if (at + 5 < size && fits(8) && Equals(b + p, "MSCF") && LoadLe32(b + p + 4) == 0) {
                        if (start > 0)
                            found(at, atCabExe, atCab);
                        else
                            hit = result;  // ends the block, leaves the result as it was
                    }
                    break;
                case '-':
                    if (at + 5 < size && fits(5) && b[p + 1] == 'l' && b[p + 2] == 'h' && b[p + 4] == '-')
                        found(at - 2, atLhaExe, atLha);
                    break;
                case 'B':
                    if (fits(8) && LoadLe32(b + p) == 0x07054842 && LoadLe32(b + p + 4) != 0x84C3940F)
                        found(at, atBhExe, atBh);
                    break;
                case 'P':
                    if (fits(8) && LoadLe32(b + p) == kLocalSignature && LoadLe32(b + p + 4) != 0x003D0B74) {
                        int64_t position = LocateZipDirectory();
                        if (position == 0) position = at;
                        hit = ScanResult{position, start > 0 ? atZipExe : atZip};
                    }
                    break;
                case 'R':
                    if (fits(4) && Equals(b + p, "Rar!")) found(at, atRarExe, atRar);
                    break;
                case 0x60:
                    if (fits(4) && b[p + 1] == 0xEA) {
                        const size_t next = p + 10 + LoadLe16(b + p + 2);
                        if (next + 2 <= got && b[next] == 0x60 && b[next + 1] == 0xEA) found(at, atArjExe, atArj);
                    }
                    break;
                default: break;
            }
        }
        if (hit) {
            result = *hit;
            if (result.position > 0) return result;
        }
    }
    return result;
}

bool ArchiveDetector::IsUuencoded() {
    std::vector<uint8_t> text(static_cast<size_t>(std::min<int64_t>(facts_.ArchiveSize, kUuencodeBytes)));
    const size_t count = source_.ReadAt(0, text.data(), text.size());
    auto startsWith = [&](size_t i, const char* word) {
        const size_t n = std::strlen(word);
        return i + n <= count && std::memcmp(&text[i], word, n) == 0;
    };
    bool beginSeen = false;
    for (size_t i = 0; i + 2 < count; ++i) {
        if (i > 0 && text[i - 1] != '\n') continue;
        if (startsWith(i, "begin 6") || startsWith(i, "begin 7")) return true;
        if (startsWith(i, "begin"))
            beginSeen = true;
        else if (beginSeen && text[i] == 'M')
            return true;
    }
    return false;
}

bool ArchiveDetector::IsTar() {
    const int64_t size = facts_.ArchiveSize;
    auto& header = facts_.TarHeader;
    if (size <= 512 || !ReadExactly(0, header.data(), header.size())) return false;
    if (header[156] == 'V') {  // a volume header: the archive's first header follows
        facts_.ArchiveOffset = 512;
        if (1024 >= size || !ReadExactly(512, header.data(), header.size())) return false;
    }
    uint32_t stored = 0;
    for (size_t i = 148; i < 156; ++i)
        if (header[i] >= '0' && header[i] <= '7') stored = stored * 8 + (header[i] - '0');
    uint32_t sum = 0;
    for (size_t i = 0; i < header.size(); ++i) sum += (i >= 148 && i < 156) ? 32 : header[i];
    if (stored == sum) return true;
    facts_.ArchiveOffset = -1;
    return false;
}
