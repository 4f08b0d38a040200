#include "archive/reader/byte_source.h"
#include "archive/reader/disk_spann_obj.h"
#include "archive/format/error_codes.h"
#include "archive/format/file_spec.h"
#include "archive/reader/file_stream32.h"
#include "archive/unzip.h"
#include "archive/reader/zip_directory_walk.h"

#include <algorithm>
#include <string>

int TUnZip::ReadCentralDirectory(TStream32& archive) { return WalkHeaders(archive, false); }

int TUnZip::ReadLocalHeaders(TStream32& archive) { return WalkHeaders(archive, true); }

int TUnZip::WalkHeaders(TStream32& archive, bool localHeaders) {
    TimerPause pause(elapsedTimer_);
    if (!entryList_) entryList_ = std::make_unique<TUnBaseHeaderObj>();
    ZipWalkHooks hooks;
    hooks.SelectEntry = [this](const std::string& name) { return SelectEntry(name, fileSpec_, recurseDirs_); };
    hooks.IsCancelled = [this] { return IsCancelled(); };
    hooks.ReportBadHeader = [this](const std::string& name) { ReportError(name, "", "0", ErrorCode::BadFileHeader); };
    hooks.ReportCorruptData = [this](const std::string& name) { ReportError(name, "", "0", ErrorCode::CorruptInput); };
    hooks.ReportEntryCount = [this](uint64_t announced, uint64_t found) {
        ReportError(archiveFile_,
                    "the end record announces " + std::to_string(announced) + " entries, the directory holds " +
                        std::to_string(found),
                    "0", ErrorCode::HeaderNotFound);
    };
    if (OnCorruptZipHeader)
        hooks.CorruptZipHeader = [this](THeaderTypeState state, bool& cancel) { OnCorruptZipHeader(this, state, cancel); };
    hooks.TranslateOemChar = translateOemChar_;
    hooks.LocalHeadersElsewhere = arcType_ == atZipDS || arcType_ == atZipMV;

    ByteSource source(archive);
    ZipWalkTotals totals;
    ZipDirectoryWalk walk(source, Facts(), hooks, *entryList_, totals);
    const int count = localHeaders ? walk.ReadLocalHeaders() : walk.ReadCentralDirectory();
    newestDate_ = std::max(newestDate_, totals.NewestDate);
    unpackedTotal_ += static_cast<uint64_t>(totals.UnpackedTotal);
    packedTotal_ += static_cast<uint64_t>(std::max<int64_t>(totals.PackedTotal, 0));
    return count;
}

int TUnZip::WalkDirectory(std::unique_ptr<TFileStream32>& archive) {
    if (arcType_ == atZipDS) {
        diskSpannObj_->Reset();
        if (!diskSpannObj_->GetDisk(archive)) return 0;
    }
    entryList_ = std::make_unique<TUnBaseHeaderObj>();
    return WalkHeaders(*archive, headerState_ == THeaderTypeState{htLocal});
}

TUnBaseHeaderObj TUnZip::ListEntries() {
    auto archive = std::make_unique<TFileStream32>(archiveFile_, fmOpenRead | fmShareDenyWrite);
    if (archiveFile_.empty() || archive->Handle() < 0) return {};
    cancelFlag_ = false;
    newestDate_ = 0;
    unpackedTotal_ = packedTotal_ = 0;
    TUnBaseHeaderObj entries;
    if (WalkDirectory(archive) > 0) entries = std::move(*entryList_);
    entryList_.reset();
    return entries;
}
