#pragma once

#include "archive/format/archive_facts.h"
#include "archive/reader/byte_source.h"
#include "archive/reader/unbase_header_obj.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What a directory walk asks of the component that runs it.
struct ZipWalkHooks {
    std::function<bool(const std::string& entryName)> SelectEntry;
    std::function<bool()> IsCancelled;
    // A central entry whose local header lacks its signature, or a local
    // entry whose sizes follow its data and cannot be found.
    std::function<void(const std::string& entryName)> ReportBadHeader;
    // A central entry whose data, streamed with no size in the directory,
    // does not end before the next entry's local header; it is left out.
    // Unassigned: left out silently.
    std::function<void(const std::string& entryName)> ReportCorruptData;
    // The end record announces another number of entries than the directory
    // holds. Unassigned: not checked.
    std::function<void(uint64_t announced, uint64_t found)> ReportEntryCount;
    // Asked before walking local headers; Cancel preset to true. Unassigned: walk.
    std::function<void(THeaderTypeState headerState, bool& cancel)> CorruptZipHeader;
    bool TranslateOemChar = true;
    // Split and spanned archives keep their local headers on other parts.
    bool LocalHeadersElsewhere = false;
};

struct ZipWalkTotals {
    uint32_t NewestDate = 0;
    int64_t PackedTotal = 0;  // less 12 for every enciphered entry
    int64_t UnpackedTotal = 0;
};

// The two walks that list the selected entries: through the central directory,
// or along the chain of local headers when there is no usable directory. Both
// only move forward, so a lying header can end a walk early but never loop it.
class ZipDirectoryWalk {
public:
    ZipDirectoryWalk(ByteSource& source, ArchiveFacts facts, const ZipWalkHooks& hooks, TUnBaseHeaderObj& entries,
                     ZipWalkTotals& totals)
        : source_(source), facts_(facts), hooks_(hooks), entries_(entries), totals_(totals) {}

    int ReadCentralDirectory();
    int ReadLocalHeaders();

private:
    bool ReadCentral(int64_t position);
    bool ReadLocal(int64_t position);
    bool Cancelled() const { return hooks_.IsCancelled && hooks_.IsCancelled(); }
    void Count(const TUnBaseHeader& entry);
    // Sizes and CRC of an entry that defers them to a data descriptor, and
    // where the next header begins; nothing when the entry cannot be sized.
    std::optional<int64_t> ReadDeferredSizes(TUnBaseHeader& entry, int64_t dataAt);
    // Gives a central entry that streams Deflate data with no compressed size
    // the size its data really takes, within the room before the next local
    // header; false when the stream does not end there. Its local header is
    // in the local work area.
    bool SizeStreamedEntry(TUnBaseHeader& entry);
    void CheckEntryCount(uint64_t found);

    ByteSource& source_;
    ArchiveFacts facts_;
    const ZipWalkHooks& hooks_;
    TUnBaseHeaderObj& entries_;
    ZipWalkTotals& totals_;
    std::vector<int64_t> localStarts_;  // of every central entry, sorted; made when first needed
    bool localStartsRead_ = false;
};
