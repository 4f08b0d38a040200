#include "archive/unzip.h"

#include <algorithm>
#include <string>

#include "archive/reader/disk_manager.h"
#include "archive/reader/disk_spann_obj.h"
#include "archive/format/error_codes.h"
#include "archive/format/zip_cipher.h"
#include "archive/format/zip_records.h"

TUnZip::TUnZip() : diskSpannObj_(std::make_unique<TDiskSpannObj>(static_cast<TDiskSpannHost&>(*this))) {}

TUnZip::~TUnZip() = default;

bool TUnZip::TestPassword(const std::string& password) {
    if (password.empty()) return false;
    TZipCipher& cipher = EntryCipher();
    cipher.InitKeys(password);
    std::copy_n(encryptionHeader_.begin() + 12, 12, encryptionHeader_.begin());
    cipher.DecipherBuffer(encryptionHeader_.data(), 12);
    return encryptionHeader_[11] == TZipLocalHeader::Parse(localHeader_.data()).PasswordCheckByte();
}

bool TUnZip::CheckPassword(TStream32& archive) {
    TimerPause pause(elapsedTimer_);
    std::fill(encryptionHeader_.begin(), encryptionHeader_.end(), 0);
    ReadIn(archive, encryptionHeader_.data() + 12, 12, kNoCrc, false);

    if (TestPassword(password_)) return true;
    for (const std::string& candidate : passwords_) {
        SetPassword(candidate);
        if (TestPassword(password_)) return true;
    }

    if (!OnGetPassword) {
        ReportError(outputPath_, "OnGetPassword", "0", ErrorCode::EventNotAssigned);
        return false;
    }
    bool tryAgain = true;
    for (int32_t attempt = 0; attempt < passwordAttempts_; ++attempt) {
        if (IsCancelled()) return false;
        OnGetPassword(this, outputPath_, password_, tryAgain);
        passwordCursor_ = 0;
        if (!tryAgain) {
            ReportError(outputPath_, "", "0", ErrorCode::InvalidPassword);
            return false;
        }
        if (TestPassword(password_)) {
            passwords_.insert(passwords_.begin(), password_);
            return true;
        }
        password_.clear();
        ReportError(outputPath_, "", "0", ErrorCode::InvalidPassword);
    }
    return false;
}

bool TUnZip::DetectSpannedDisk() {
    // The name is kept, as a missing file would clear it.
    const std::string archiveFile = archiveFile_;
    arcType_ = atNA;
    headerState_.Clear();
    SetArchiveFile(archiveFile);
    archiveFile_ = archiveFile;
    return headerState_.Contains(htEnding);
}

bool TUnZip::DiskEventAssigned(uint16_t stage) const {
    if (stage == 0) return static_cast<bool>(OnGetZipLastDisk);
    if (stage == 1) return static_cast<bool>(OnGetZipFirstDisk);
    return static_cast<bool>(OnGetZipNextDisk);
}

void TUnZip::AskForDisk(TObject* sender, uint16_t stage, bool& cancel) {
    if (stage == 0)
        OnGetZipLastDisk(sender, cancel);
    else if (stage == 1)
        OnGetZipFirstDisk(sender, cancel);
    else
        OnGetZipNextDisk(sender, std::to_string(stage), cancel);
}

bool TUnZip::QuerySpannedDrive(TDiskManager& disk) {
    return disk.Query(ArchiveFile(), this, OnDriveNotReady, OnDiskWriteProtected,
                      [this](const std::string& drive, int32_t code) { ReportError(drive, "0", "0", code); });
}
