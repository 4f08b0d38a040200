// The extraction run of TUnZip: opening the archive, the run's frame of
// events, the directory walk and the loop over the selected entries.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/reader/disk_manager.h"
#include "archive/reader/disk_spann_obj.h"
#include "archive/format/error_codes.h"
#include "archive/reader/file_stream32.h"
#include "archive/unzip.h"
#include "archive/reader/extra_fields.h"
#include "archive/reader/zip_directory.h"
#include "archive/format/zip_records.h"

namespace {

// Runs a step whose exceptions must not stop the steps after it.
template <class Step>
void Guarded(Step&& step) {
    try {
        step();
    } catch (...) {
        // The run swallows whatever reaches it.
    }
}

}  // namespace

int32_t TUnZip::ExtractFiles() {
    if (archiveFile_.empty()) {
        ReportError("", "", "0", ErrorCode::FileNotFound);
        return 0;
    }
    if (arcType_ == atZipDS || arcType_ == atZipMV) {
        const bool ready = diskManager_->Query(archiveFile_, this, OnDriveNotReady, OnDiskWriteProtected,
                                               [this](const std::string& drive, int32_t code) {
                                                   ReportError(drive, "0", "0", code);
                                               });
        if (!ready) return 0;
    }
    auto archive = std::make_unique<TFileStream32>(archiveFile_, fmOpenRead | fmShareDenyWrite);
    if (archive->Handle() < 0) {
        ReportError(archiveFile_, "", "0", ErrorCode::OpenError);
        return 0;
    }
    archiveSize_ = archive->Size();

    ResetRunState();
    entriesSelected_ = 0;
    linkFreeFolders_.Forget();
    SetCurrentVolumeName(archiveFile_);
    const std::string archiveFile = archiveFile_;
    Guarded([&] {
        if (OnActivate) OnActivate(this);
        if (OnElapsedTime) elapsedTimer_.Start();
        ExtractArchive(archive);
    });
    Guarded([&] {
        if (!OnElapsedTime) return;
        elapsedTimer_.Stop();
        OnElapsedTime(this, elapsedTimer_.ElapsedSeconds);
    });
    Guarded([&] {
        if (OnDeactivate) OnDeactivate(this);
    });
    // A volume switch may have changed the name the component reads from.
    archiveFile_ = archiveFile;
    entryList_.reset();
    return filesExtracted_;
}

void TUnZip::ExtractArchive(std::unique_ptr<TFileStream32>& archive) {
    entriesSelected_ = WalkDirectory(archive);
    if (entriesSelected_ > 0 && archive) ExtractEntries(archive, headerState_ != THeaderTypeState{htLocal});
}

void TUnZip::ExtractEntries(std::unique_ptr<TFileStream32>& archive, bool centralVariant) {
    bytesRemaining_ = static_cast<int64_t>(unpackedTotal_);
    const int32_t lastDisk = TZipEndRecord::Parse(endRecord_.data()).thisDisk;
    std::unique_ptr<TFileStream32> output;
    folderTimes_.clear();
    entryExtents_.Clear();
    auto next = entryList_->begin();
    for (int index = 0; index < entryList_->Count(); ++index, ++next) {
        if (IsCancelled()) break;
        const TUnBaseHeader& entry = *next;

        if (arcType_ == atZipDS && index == 0) {
            diskSpannObj_->SetStage(entry.Record.Disk);
            if (!diskSpannObj_->GetDisk(archive, entry.Record.LocalPosition)) break;
        } else if (arcType_ == atZipMV && centralVariant && entry.Record.Disk != volumeNumber_) {
            if (!NextVolume(entry.Record.Disk - 1, lastDisk, archive)) break;
        }
        if (!archive) break;  // a volume that could not be opened leaves no stream

        entryDescriptor_ = {entry.Flags, entry.Method, entry.PackedSize, entry.UnpackedSize};
        std::fill(localHeader_.begin(), localHeader_.end(), 0);
        archive->SetPosition(entry.Record.LocalPosition);
        const bool haveLocal =
            ReadIn(*archive, localHeader_.data(), TZipLocalHeader::kSize, kNoCrc, false) == TZipLocalHeader::kSize &&
            IsLocalHeader(LoadLe32(localHeader_.data()));
        if (!haveLocal) {
            // Only split and spanned archives reach here unchecked by the walk.
            ReportError(entry.Name, "", "0", ErrorCode::BadFileHeader);
            SkipEntry();
            continue;
        }
        const TZipLocalHeader local = TZipLocalHeader::Parse(localHeader_.data());
        std::string rawName(local.nameLength, '\0');
        rawName.resize(static_cast<size_t>(std::max(ReadIn(*archive, rawName.data(), local.nameLength, kNoCrc, false), 0)));
        rawName.resize(std::min(rawName.find('\0'), rawName.size()));
        std::vector<uint8_t> extraBytes(local.extraLength);
        extraBytes.resize(static_cast<size_t>(std::max(ReadIn(*archive, extraBytes.data(), local.extraLength, kNoCrc, false), 0)));
        const int64_t dataStart = entry.Record.LocalPosition + static_cast<int64_t>(TZipLocalHeader::kSize) +
                                  local.nameLength + local.extraLength;
        archive->SetPosition(dataStart);

        const auto packed = static_cast<int64_t>(std::min<uint64_t>(entry.PackedSize, INT64_MAX - dataStart));
        if (!entryExtents_.Claim(entry.Record.Disk, entry.Record.LocalPosition, dataStart + packed)) {
            ReportError(entry.Name, "", "0", ErrorCode::CorruptInput);
            SkipEntry();
            continue;
        }

        // The name listed and selected is the one written, whatever the local
        // header calls the entry (archivers write other code pages and
        // placeholders there): a name that differs is only worth a warning.
        if (centralVariant && entry.CentralCopy && rawName != entry.RawName) {
            const std::string localName = TranslateEntryName(
                rawName, {local.flags, 0, TExtraField(extraBytes).UnicodePath(rawName)}, translateOemChar_);
            if (localName != entry.Name) ReportError(entry.Name, localName, "0", ErrorCode::InconsistentLocalHeader);
        }
        if (centralVariant && entry.CentralCopy) centralHeader_ = *entry.CentralCopy;
        const uint32_t attributes = centralVariant ? entry.Record.Attributes : 0;
        entryName_ = centralVariant && entry.CentralCopy
                         ? entry.Name
                         : TranslateEntryName(rawName, {local.flags, 0, TExtraField(std::move(extraBytes)).UnicodePath(rawName)},
                                              translateOemChar_);
        BuildOutputPath(entryName_);
        currentEntry_ = &entry;
        ExtractEntry(archive, output, local, centralVariant, attributes);
    }
    currentEntry_ = nullptr;
    StampFolders();
}
