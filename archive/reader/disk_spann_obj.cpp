#include "archive/reader/disk_spann_obj.h"

#include "archive/format/error_codes.h"
#include "archive/format/zip_records.h"
#include "archive/reader/disk_manager.h"
#include "archive/reader/file_stream32.h"

#include <string>

bool TDiskSpannObj::GetDisk(std::unique_ptr<TFileStream32>& archive, int64_t wantedHeader) {
    archive.reset();
    const char* eventName = stage_ == 0 ? "OnGetZipLastDisk" : stage_ == 1 ? "OnGetZipFirstDisk" : "OnGetZipNextDisk";
    const std::string archiveFile = host_.SpannedArchiveFile();
    bool found = false;
    if (!host_.DiskEventAssigned(stage_))
        host_.ReportSpannedError(archiveFile, eventName, std::to_string(stage_), ErrorCode::EventNotAssigned);
    else
        found = stage_ == 0 ? GetLastDisk() : GetFirstOrNextDisk(wantedHeader);
    if (!found) {
        host_.CancelSpanned();
        return false;
    }

    auto reopened = std::make_unique<TFileStream32>(archiveFile, fmOpenRead | fmShareDenyWrite);
    if (reopened->Handle() < 0) {
        host_.ReportSpannedError(archiveFile, "", "0", ErrorCode::OpenError);
        return false;
    }
    host_.SpannedDiskOpened(reopened->Size());
    archive = std::move(reopened);
    return true;
}

bool TDiskSpannObj::GetLastDisk() {
    while (!host_.DetectSpannedDisk()) {
        bool cancel = true;
        host_.AskForDisk(this, stage_, cancel);
        if (cancel) return false;
    }
    if (!IsRecognised(host_.SpannedArcType())) return false;
    stage_ = 1;
    return true;
}

bool TDiskSpannObj::GetFirstOrNextDisk(int64_t wantedHeader) {
    while (!CheckDisk(wantedHeader)) {
        bool cancel = true;
        host_.AskForDisk(this, stage_, cancel);
        if (cancel) return false;
    }
    ++stage_;
    return true;
}

bool TDiskSpannObj::CheckDisk(int64_t position) {
    TDiskManager& disk = host_.SpannedDiskManager();
    const bool queried = host_.QuerySpannedDrive(disk);
    const std::string archiveFile = host_.SpannedArchiveFile();
    TFileStream32 archive(archiveFile, fmOpenRead | fmShareDenyWrite);
    if (archive.Handle() < 0) {
        host_.ReportSpannedError(archiveFile, "", "0", ErrorCode::OpenError);
        return false;
    }
    const TArcType type = host_.SpannedArcType();
    if (position < 0 || archive.Size() < position + static_cast<int64_t>(TZipLocalHeader::kSize)) {
        if (type == atZipDS) return queried && disk.DiskNumber() == stage_;
        return type == atZipMV;
    }
    uint8_t signature[4];
    if (archive.Seek(position, TSeekOrigin::soBeginning) != position || archive.Read(signature, 4) != 4) return false;
    const uint32_t value = LoadLe32(signature);
    return value == kCentralSignature || value == kLocalSignature || value == kSpanningMarker;
}
