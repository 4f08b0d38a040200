#include "archive/volumes/disk_spann_obj.h"

#include "archive/volumes/disk_manager.h"
#include "archive/frame/error_codes.h"
#include "archive/streams/file_stream32.h"
#include "archive/frame/unzip.h"
#include "archive/directory/zip_records.h"

#include <string>

bool TDiskSpannObj::GetDisk(std::unique_ptr<TFileStream32>& archive, int64_t wantedHeader) {
    archive.reset();
    const char* eventName = stage_ == 0 ? "OnGetZipLastDisk" : stage_ == 1 ? "OnGetZipFirstDisk" : "OnGetZipNextDisk";
    const bool assigned = stage_ == 0   ? static_cast<bool>(owner_.OnGetZipLastDisk)
                          : stage_ == 1 ? static_cast<bool>(owner_.OnGetZipFirstDisk)
                                        : static_cast<bool>(owner_.OnGetZipNextDisk);
    bool found = false;
    if (!assigned)
        owner_.ReportError(owner_.ArchiveFile(), eventName, std::to_string(stage_), ErrorCode::EventNotAssigned);
    else
        found = stage_ == 0 ? GetLastDisk() : GetFirstOrNextDisk(wantedHeader);
    if (!found) {
        owner_.CancelFlag() = true;
        return false;
    }

    auto reopened = std::make_unique<TFileStream32>(owner_.ArchiveFile(), fmOpenRead | fmShareDenyWrite);
    if (reopened->Handle() < 0) {
        owner_.ReportError(owner_.ArchiveFile(), "", "0", ErrorCode::OpenError);
        return false;
    }
    owner_.archiveSize_ = reopened->Size();
    archive = std::move(reopened);
    return true;
}

bool TDiskSpannObj::GetLastDisk() {
    // Detection runs again on the disk in the drive; the name is kept, as a
    // missing file would clear it.
    const std::string archiveFile = owner_.ArchiveFile();
    auto detect = [&] {
        owner_.arcType_ = atNA;
        owner_.headerState_.Clear();
        owner_.SetArchiveFile(archiveFile);
        owner_.archiveFile_ = archiveFile;
    };
    detect();
    while (!owner_.HeaderState().Contains(htEnding)) {
        bool cancel = true;
        owner_.OnGetZipLastDisk(this, cancel);
        if (cancel) return false;
        detect();
    }
    if (!IsRecognised(owner_.ArcType())) return false;
    stage_ = 1;
    return true;
}

bool TDiskSpannObj::GetFirstOrNextDisk(int64_t wantedHeader) {
    while (!CheckDisk(wantedHeader)) {
        bool cancel = true;
        if (stage_ == 1)
            owner_.OnGetZipFirstDisk(this, cancel);
        else
            owner_.OnGetZipNextDisk(this, std::to_string(stage_), cancel);
        if (cancel) return false;
    }
    ++stage_;
    return true;
}

bool TDiskSpannObj::CheckDisk(int64_t position) {
    TDiskManager& disk = owner_.DiskManager();
    const bool queried = disk.Query(owner_.ArchiveFile(), &owner_, owner_.OnDriveNotReady, owner_.OnDiskWriteProtected,
                                    [this](const std::string& drive, int32_t code) {
                                        owner_.ReportError(drive, "0", "0", code);
                                    });
    TFileStream32 archive(owner_.ArchiveFile(), fmOpenRead | fmShareDenyWrite);
    if (archive.Handle() < 0) {
        owner_.ReportError(owner_.ArchiveFile(), "", "0", ErrorCode::OpenError);
        return false;
    }
    if (position < 0 || archive.Size() < position + static_cast<int64_t>(TZipLocalHeader::kSize)) {
        if (owner_.ArcType() == atZipDS) return queried && disk.DiskNumber() == stage_;
        return owner_.ArcType() == atZipMV;
    }
    uint8_t signature[4];
    if (archive.Seek(position, TSeekOrigin::soBeginning) != position || archive.Read(signature, 4) != 4) return false;
    const uint32_t value = LoadLe32(signature);
    return value == kCentralSignature || value == kLocalSignature || value == kSpanningMarker;
}
