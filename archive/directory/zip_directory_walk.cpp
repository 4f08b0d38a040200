#include "archive/directory/zip_directory_walk.h"

#include "archive/directory/zip_directory.h"

#include <algorithm>
#include <limits>

namespace {

constexpr uint16_t kEncryptedFlag = 0x0001;
constexpr int64_t kEncryptionHeader = 12;

// Sizes come from the archive; a lying one must not overflow the totals.
int64_t SaturatingAdd(int64_t total, uint64_t amount) {
    const uint64_t room = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - std::max<int64_t>(total, 0));
    return amount >= room ? std::numeric_limits<int64_t>::max() : total + static_cast<int64_t>(amount);
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
    int repeats = end.thisDisk >= end.directoryDisk ? end.thisDisk - end.directoryDisk + 1 : 0;
    int64_t position = facts_.ArchiveOffset;
    bool stopped = false;
    // Every round goes on where the last one stopped; a round that finds no
    // header there would find none in all the rounds after it.
    while (repeats-- > 0 && !stopped && ReadCentral(position)) {
        do {
            if (Cancelled()) {
                stopped = true;
                break;
            }
            const TZipCentralHeader central = facts_.Central();
            const std::array<uint8_t, TZipCentralHeader::kSize> centralCopy = facts_.CentralArea;
            const int64_t nameAt = position + static_cast<int64_t>(TZipCentralHeader::kSize);
            const std::string rawName = ReadEntryName(source_, nameAt, central.nameLength);
            uint32_t unpacked = central.uncompressedSize, packed = central.compressedSize,
                     offset = central.localHeaderOffset;
            const ExtraFieldHighWords high = ReadExtraField(source_, nameAt + central.nameLength, central.extraLength,
                                                            ExtraFieldKind::Central, unpacked, packed, &offset);
            TUnBaseHeader entry;
            entry.Name = TranslateEntryName(rawName, central.flags, hooks_.TranslateOemChar);
            if (hooks_.SelectEntry(entry.Name)) {
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
    return entries_.Count();
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
        TUnBaseHeader entry;
        entry.Name = TranslateEntryName(rawName, local.flags, hooks_.TranslateOemChar);
        entry.PackedSize = Join48(packed, high.compressedHigh);
        if (!entry.Name.empty() && hooks_.SelectEntry(entry.Name)) {
            entry.Record = {0, 1, position};
            entry.Flags = local.flags;
            entry.Method = local.method;
            entry.Crc32 = local.crc32;
            entry.DosDateTime = local.dosDateTime;
            entry.UnpackedSize = Join48(unpacked, high.uncompressedHigh);
            Count(entry);
            entries_.Add(entry);
        }
        // Moves forward by at least a header, whatever the sizes say.
        position = nameAt + local.nameLength + local.extraLength + static_cast<int64_t>(entry.PackedSize);
        complete = ReadLocal(position);
    }
    return entries_.Count();
}
