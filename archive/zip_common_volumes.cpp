#include "archive/reader/disk_manager.h"
#include "archive/format/error_codes.h"
#include "archive/format/path_names.h"
#include "archive/reader/file_stream32.h"
#include "archive/zip_common.h"
#include "platform/ascii.h"
#include "platform/file_system.h"

#include <cstdio>

TArcType TZipCommon::CheckSpannedDisk() {
    TDiskManager& disk = *diskManager_;
    // Detection asks nobody and reports nothing.
    if (!disk.Query(archiveFile_, this, nullptr, nullptr, nullptr)) return atNA;
    if (disk.DriveType() != platform::DriveType::Removable) return atZipMV;
    const std::string firstWord = disk.VolumeLabel().substr(0, disk.VolumeLabel().find(' '));
    return platform::EqualsIgnoringAsciiCase(firstWord, "PKBACK#") ? atZipDS : atZipMV;
}

std::string TZipCommon::VolumeName(int32_t index, int32_t lastIndex) const {
    if (index >= lastIndex) return archiveFile_;
    const std::string name = currentVolumeName_;
    const std::string folder = ExtractFilePath(name);
    const size_t dot = name.rfind('.');
    const std::string base = dot != std::string::npos && dot >= folder.size() ? name.substr(0, dot) : name;
    char extension[16];
    std::snprintf(extension, sizeof extension, ".z%2.2d", index + 1);
    return base + extension;
}

bool TZipCommon::NextVolume(int32_t index, int32_t lastIndex, std::unique_ptr<TFileStream32>& archive) {
    if (!OnNextVolume) {
        SetCancel(true);
        ReportError(currentVolumeName_, "OnNextVolume", std::to_string(index + 1), ErrorCode::EventNotAssigned);
        return false;
    }
    archive.reset();
    currentVolumeName_ = VolumeName(index, lastIndex);
    // An archive walked by its local headers names no last volume: the one
    // after the wanted index is asked for instead of the archive itself.
    if (headerState_ == THeaderTypeState{htLocal} && platform::EqualsIgnoringAsciiCase(currentVolumeName_, archiveFile_)) {
        currentVolumeName_ = VolumeName(index + 1, 9999);
        ++index;
    }
    const std::string volumeID = std::to_string(index + 1);
    for (;;) {
        OnNextVolume(this, currentVolumeName_, volumeID, platform::FileExists(currentVolumeName_), cancelFlag_);
        if (cancelFlag_) {
            ReportError(currentVolumeName_, "", volumeID, ErrorCode::UserCanceled);
            return false;
        }
        if (platform::FileExists(currentVolumeName_)) break;
    }
    volumeNumber_ = index + 1;
    auto opened = std::make_unique<TFileStream32>(currentVolumeName_, fmOpenRead | fmShareDenyWrite);
    if (opened->Handle() < 0) {
        ReportError(currentVolumeName_, "", volumeID, ErrorCode::OpenError);
        return false;
    }
    archive = std::move(opened);
    return true;
}
