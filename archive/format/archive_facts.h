#pragma once

#include "archive/format/archive_types.h"
#include "archive/format/zip_records.h"

#include <array>
#include <cstdint>

// What detection learns about an archive, as references into the state that
// holds it (the root component, or ArchiveFactsStore). The work areas keep the
// last records read as they stand in the file.
struct ArchiveFacts {
    int64_t& ArchiveSize;
    // ZIP with a directory: the first central header; ZIP found by its local
    // headers: the first local header; other types: where the archive begins.
    int64_t& ArchiveOffset;
    int64_t& OffsetAdjust;  // added to every local-header offset of the directory
    int64_t& CommentStart;
    THeaderTypeState& HeaderState;
    uint32_t& ArchiveDate;  // the archive file's own DOS date-time
    std::array<uint8_t, TZipLocalHeader::kSize>& LocalArea;
    std::array<uint8_t, TZipCentralHeader::kSize>& CentralArea;
    std::array<uint8_t, TZipEndRecord::kSize>& EndArea;
    std::array<uint8_t, TZip64EndRecord::kSize>& Zip64EndArea;
    std::array<uint8_t, TZip64Locator::kSize>& Zip64LocatorArea;
    std::array<uint8_t, 512>& TarHeader;

    TZipLocalHeader Local() const { return TZipLocalHeader::Parse(LocalArea.data()); }
    TZipCentralHeader Central() const { return TZipCentralHeader::Parse(CentralArea.data()); }
    TZipEndRecord End() const { return TZipEndRecord::Parse(EndArea.data()); }
    TZip64EndRecord Zip64End() const { return TZip64EndRecord::Parse(Zip64EndArea.data()); }
    TZip64Locator Zip64Locator() const { return TZip64Locator::Parse(Zip64LocatorArea.data()); }
};

// Facts held on their own, for code that detects without a component.
struct ArchiveFactsStore {
    int64_t archiveSize = 0;
    int64_t archiveOffset = -1;
    int64_t offsetAdjust = 0;
    int64_t commentStart = 0;
    THeaderTypeState headerState;
    uint32_t archiveDate = 0;
    std::array<uint8_t, TZipLocalHeader::kSize> localArea{};
    std::array<uint8_t, TZipCentralHeader::kSize> centralArea{};
    std::array<uint8_t, TZipEndRecord::kSize> endArea{};
    std::array<uint8_t, TZip64EndRecord::kSize> zip64EndArea{};
    std::array<uint8_t, TZip64Locator::kSize> zip64LocatorArea{};
    std::array<uint8_t, 512> tarHeader{};

    ArchiveFacts Facts() {
        return {archiveSize, archiveOffset, offsetAdjust,     commentStart,     headerState, archiveDate,
                localArea,   centralArea,   endArea,          zip64EndArea,     zip64LocatorArea, tarHeader};
    }
};
