#include "archive/reader/zip_directory_walk.h"

#include "archive/reader/deflate_extent.h"
#include "archive/reader/extra_fields.h"
#include "archive/reader/zip_directory.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace {

constexpr uint16_t kEncryptedFlag = 0x0001;
constexpr uint16_t kDataDescriptorFlag = 0x0008;
constexpr int64_t kEncryptionHeader = 12;
constexpr uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr uint64_t kMaxReservedEntries = uint64_t{1} << 18;

// Sizes come from the archive; a lying one must not overflow the totals.
int64_t SaturatingAdd(int64_t total, uint64_t amount) {
    const uint64_t room = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - std::max<int64_t>(total, 0));
    return amount >= room ? std::numeric_limits<int64_t>::max() : total + static_cast<int64_t>(amount);
}

// The CRC and sizes a data descriptor gives after an entry's data.
struct DataDescriptor {
    uint32_t crc32 = 0;
    uint64_t packed = 0;
    uint64_t unpacked = 0;
    int64_t length = 0;  // bytes the descriptor takes
};

bool StartsWithSignature(ByteSource& source, int64_t position) {
    uint8_t bytes[4];
    if (!source.ReadExactly(position, bytes, sizeof bytes)) return false;
    const uint32_t signature = LoadLe32(bytes);
    return IsLocalHeader(signature) || IsCentralHeader(signature) || signature == kEndSignature;
}

// The descriptor at `position` whose compressed size is `packed` (and whose
// uncompressed size is `unpacked`, when known). It comes with or without its
// signature and with 4- or 8-byte sizes; of the forms whose sizes fit, one
// followed by the next record wins.
std::optional<DataDescriptor> ReadDataDescriptor(ByteSource& source, int64_t position, uint64_t packed,
                                                 std::optional<uint64_t> unpacked) {
    uint8_t bytes[24] = {};
    const size_t got = source.ReadAt(position, bytes, sizeof bytes);
    std::optional<DataDescriptor> fallback;
    for (const bool signed_ : {true, false}) {
        if (signed_ && (got < 4 || LoadLe32(bytes) != kDataDescriptorSignature)) continue;
        for (const bool wide : {false, true}) {
            const size_t at = signed_ ? 4 : 0;
            const size_t length = at + 4 + (wide ? 16 : 8);
            if (got < length) continue;
            DataDescriptor d;
            d.crc32 = LoadLe32(bytes + at);
            d.packed = wide ? LoadLe64(bytes + at + 4) : LoadLe32(bytes + at + 4);
            d.unpacked = wide ? LoadLe64(bytes + at + 12) : LoadLe32(bytes + at + 8);
            d.length = static_cast<int64_t>(length);
            if (d.packed != packed || (unpacked && d.unpacked != *unpacked)) continue;
            if (StartsWithSignature(source, position + d.length)) return d;
            if (!fallback) fallback = d;
        }
    }
    return fallback;
}

// Where the local header of every entry the directory starting at
// `directory` lists begins, in ascending order.
std::vector<int64_t> LocalHeaderStarts(ByteSource& source, int64_t directory, int64_t offsetAdjust) {
    std::vector<int64_t> starts;
    std::array<uint8_t, TZipCentralHeader::kSize> bytes;
    int64_t position = directory;
    while (source.ReadExactly(position, bytes.data(), bytes.size())) {
        const TZipCentralHeader central = TZipCentralHeader::Parse(bytes.data());
        if (!IsCentralHeader(central.signature)) break;
        const int64_t extraAt = position + static_cast<int64_t>(TZipCentralHeader::kSize) + central.nameLength;
        uint32_t unpacked = central.uncompressedSize, packed = central.compressedSize, offset = central.localHeaderOffset;
        const ExtraFieldHighWords high =
            ReadExtraField(source, extraAt, central.extraLength, ExtraFieldKind::Central, unpacked, packed, &offset);
        starts.push_back(static_cast<int64_t>(Join48(offset, high.offsetHigh)) + offsetAdjust);
        position = extraAt + central.extraLength + central.commentLength;
    }
    std::sort(starts.begin(), starts.end());
    return starts;
}

}  // namespace

// The work area is cleared first, so a short read leaves no stale signature.
bool ZipDirectoryWalk::ReadCentral(int64_t position) {
    facts_.CentralArea.fill(0);
    source_.ReadAt(position, facts_.CentralArea.data(), facts_.CentralArea.size());
    return IsCentralHeader(facts_.Central().signature);
}

bool ZipDirectoryWalk::ReadLocal(int64_t position) {
    facts_.LocalArea.fill(0);
    return source_.ReadExactly(position, facts_.LocalArea.data(), facts_.LocalArea.size());
}

void ZipDirectoryWalk::Count(const TUnBaseHeader& entry) {
    totals_.NewestDate = std::max(totals_.NewestDate, entry.DosDateTime);
    totals_.UnpackedTotal = SaturatingAdd(totals_.UnpackedTotal, entry.UnpackedSize);
    totals_.PackedTotal = SaturatingAdd(totals_.PackedTotal, entry.PackedSize);
    if (entry.Flags & kEncryptedFlag) totals_.PackedTotal -= kEncryptionHeader;
}

int ZipDirectoryWalk::ReadCentralDirectory() {
    const TZipEndRecord end = facts_.End();
    // The announced count is believed only as far as the bytes behind the
    // directory's start could hold that many headers; beyond a bound the
    // list grows as headers are found.
    const uint64_t announced = end.totalEntries == 0xFFFF ? facts_.Zip64End().totalEntries : end.totalEntries;
    const uint64_t fitting =
        static_cast<uint64_t>(std::max<int64_t>(facts_.ArchiveSize - facts_.ArchiveOffset, 0)) / TZipCentralHeader::kSize;
    entries_.Reserve(static_cast<size_t>(std::min<uint64_t>({announced, fitting, kMaxReservedEntries})));
    int repeats = end.thisDisk >= end.directoryDisk ? end.thisDisk - end.directoryDisk + 1 : 0;
    int64_t position = facts_.ArchiveOffset;
    bool stopped = false;
    uint64_t headers = 0;
    // Every round goes on where the last one stopped; a round that finds no
    // header there would find none in all the rounds after it.
    while (repeats-- > 0 && !stopped && ReadCentral(position)) {
        do {
            if (Cancelled()) {
                stopped = true;
                break;
            }
            ++headers;
            const TZipCentralHeader central = facts_.Central();
            const std::array<uint8_t, TZipCentralHeader::kSize> centralCopy = facts_.CentralArea;
            const int64_t nameAt = position + static_cast<int64_t>(TZipCentralHeader::kSize);
            const std::string rawName = ReadEntryName(source_, nameAt, central.nameLength);
            uint32_t unpacked = central.uncompressedSize, packed = central.compressedSize,
                     offset = central.localHeaderOffset;
            const ExtraFieldHighWords high = ReadExtraField(source_, nameAt + central.nameLength, central.extraLength,
                                                            ExtraFieldKind::Central, unpacked, packed, &offset);
            const TExtraField extra =
                TExtraField::Read(source_, nameAt + central.nameLength, central.extraLength);
            TUnBaseHeader entry;
            entry.Name = TranslateEntryName(rawName, {central.flags, central.versionMadeBy, extra.UnicodePath(rawName)},
                                            hooks_.TranslateOemChar);
            if (hooks_.SelectEntry(entry.Name)) {
                entry.ModificationTime = extra.ModificationTime();
                entry.RawName = rawName;
                entry.Record.Attributes = central.externalAttributes;
                entry.Record.Disk = static_cast<uint16_t>(central.diskNumberStart + 1);
                entry.Record.LocalPosition = static_cast<int64_t>(Join48(offset, high.offsetHigh)) + facts_.OffsetAdjust;
                entry.CentralCopy = centralCopy;
                entry.Flags = central.flags;
                entry.Method = central.method;
                entry.Crc32 = central.crc32;
                entry.DosDateTime = central.dosDateTime;
                entry.PackedSize = Join48(packed, high.compressedHigh);
                entry.UnpackedSize = Join48(unpacked, high.uncompressedHigh);
                if (!hooks_.LocalHeadersElsewhere &&
                    !(ReadLocal(entry.Record.LocalPosition) && IsLocalHeader(facts_.Local().signature))) {
                    hooks_.ReportBadHeader(entry.Name);
                } else if (!hooks_.LocalHeadersElsewhere && !SizeStreamedEntry(entry)) {
                    if (hooks_.ReportCorruptData) hooks_.ReportCorruptData(entry.Name);
                } else {
                    Count(entry);
                    entries_.Add(std::move(entry));
                }
            }
            if (Cancelled()) {
                stopped = true;
                break;
            }
            position = nameAt + central.nameLength + central.extraLength + central.commentLength;
        } while (ReadCentral(position));
    }
    if (!stopped) CheckEntryCount(headers);
    return entries_.Count();
}

bool ZipDirectoryWalk::SizeStreamedEntry(TUnBaseHeader& entry) {
    // Only Deflate data ends by itself; without a size the decoder would read
    // on through whatever follows, the next entries' bytes included.
    const bool streamed = (entry.Flags & kDataDescriptorFlag) && entry.PackedSize == 0 && entry.UnpackedSize > 0 &&
                          (entry.Method == 8 || entry.Method == 9);
    if (!streamed) return true;
    if (!localStartsRead_) {
        localStarts_ = LocalHeaderStarts(source_, facts_.ArchiveOffset, facts_.OffsetAdjust);
        localStartsRead_ = true;
    }
    // The data of a sound archive ends before the next local header, and
    // that of the last entry before the directory.
    const int64_t at = entry.Record.LocalPosition;
    const auto next = std::upper_bound(localStarts_.begin(), localStarts_.end(), at);
    int64_t roomEnd = next != localStarts_.end() ? *next : facts_.ArchiveOffset;
    if (roomEnd <= at) roomEnd = source_.Size();
    const TZipLocalHeader local = facts_.Local();
    const int64_t dataAt = at + static_cast<int64_t>(TZipLocalHeader::kSize) + local.nameLength + local.extraLength;
    if (roomEnd <= dataAt) return false;
    const auto room = static_cast<uint64_t>(roomEnd - dataAt);
    if (entry.Flags & kEncryptedFlag) {
        // Enciphered data cannot be decoded before its password is known:
        // its decoder reads no further than the room.
        entry.PackedSize = room;
        return true;
    }
    const std::optional<DeflateExtent> extent = MeasureDeflateStream(source_, dataAt, entry.Method == 9, room);
    if (!extent) return false;
    entry.PackedSize = extent->packed;
    return true;
}

void ZipDirectoryWalk::CheckEntryCount(uint64_t found) {
    const TZipEndRecord end = facts_.End();
    if (!hooks_.ReportEntryCount || !facts_.HeaderState.Contains(htEnding) || end.thisDisk != end.directoryDisk)
        return;
    if (facts_.HeaderState.Contains(htEnding64)) {
        const uint64_t announced = facts_.Zip64End().totalEntries;
        if (announced != found) hooks_.ReportEntryCount(announced, found);
    } else if (end.totalEntries != static_cast<uint16_t>(found)) {
        // The record's count is 16 bits wide: writers that list more entries
        // without zip64 records keep its low bits.
        hooks_.ReportEntryCount(end.totalEntries, found);
    }
}

int ZipDirectoryWalk::ReadLocalHeaders() {
    if (hooks_.CorruptZipHeader) {
        bool cancel = true;
        hooks_.CorruptZipHeader(facts_.HeaderState, cancel);
        if (cancel) return 0;
    }
    int64_t position = facts_.ArchiveOffset;
    bool complete = ReadLocal(position);
    if (complete && facts_.Local().signature == kSpanningMarker) {
        position += 4;
        complete = ReadLocal(position);
    }
    while (complete && IsLocalHeader(facts_.Local().signature)) {
        if (Cancelled()) break;
        const TZipLocalHeader local = facts_.Local();
        const int64_t nameAt = position + static_cast<int64_t>(TZipLocalHeader::kSize);
        const std::string rawName = ReadEntryName(source_, nameAt, local.nameLength);
        uint32_t unpacked = local.uncompressedSize, packed = local.compressedSize;
        const ExtraFieldHighWords high = ReadExtraField(source_, nameAt + local.nameLength, local.extraLength,
                                                        ExtraFieldKind::Local, unpacked, packed, nullptr);
        const TExtraField extra = TExtraField::Read(source_, nameAt + local.nameLength, local.extraLength);
        TUnBaseHeader entry;
        entry.Name = TranslateEntryName(rawName, {local.flags, 0, extra.UnicodePath(rawName)}, hooks_.TranslateOemChar);
        entry.Record = {0, 1, position};
        entry.Flags = local.flags;
        entry.Method = local.method;
        entry.Crc32 = local.crc32;
        entry.DosDateTime = local.dosDateTime;
        entry.ModificationTime = extra.ModificationTime();
        entry.PackedSize = Join48(packed, high.compressedHigh);
        entry.UnpackedSize = Join48(unpacked, high.uncompressedHigh);
        const int64_t dataAt = nameAt + local.nameLength + local.extraLength;
        // Moves forward by at least a header, whatever the sizes say.
        position = dataAt + static_cast<int64_t>(entry.PackedSize);
        if (local.flags & kDataDescriptorFlag) {
            const std::optional<int64_t> next = ReadDeferredSizes(entry, dataAt);
            if (!next) {
                hooks_.ReportBadHeader(entry.Name);
                break;
            }
            position = *next;
        }
        if (!entry.Name.empty() && hooks_.SelectEntry(entry.Name)) {
            Count(entry);
            entries_.Add(entry);
        }
        complete = ReadLocal(position);
    }
    return entries_.Count();
}

std::optional<int64_t> ZipDirectoryWalk::ReadDeferredSizes(TUnBaseHeader& entry, int64_t dataAt) {
    // Sizes written before the data are taken as they are; otherwise only a
    // stream that ends by itself can be sized, and only when it is readable.
    std::optional<uint64_t> unpacked;
    if (entry.PackedSize == 0 && !(entry.Flags & kEncryptedFlag) && (entry.Method == 8 || entry.Method == 9)) {
        const std::optional<DeflateExtent> extent = MeasureDeflateStream(source_, dataAt, entry.Method == 9);
        if (!extent) return std::nullopt;
        entry.PackedSize = extent->packed;
        unpacked = extent->unpacked;
    } else if (entry.PackedSize == 0 && entry.Method != 0) {
        return std::nullopt;
    }
    // A stored entry with no size is taken only as the empty entry a folder
    // or an empty file is: its descriptor must say so.
    if (entry.PackedSize == 0 && entry.Method == 0) unpacked = 0;
    const auto at = dataAt + static_cast<int64_t>(entry.PackedSize);
    const std::optional<DataDescriptor> descriptor = ReadDataDescriptor(source_, at, entry.PackedSize, unpacked);
    if (!descriptor) return std::nullopt;
    entry.Crc32 = descriptor->crc32;
    entry.UnpackedSize = descriptor->unpacked;
    return at + descriptor->length;
}
