#include "archive/zip_common.h"

#include <cmath>
#include <limits>

#include "archive/extract/output_path.h"
#include "archive/format/crc.h"
#include "archive/reader/archive_detection.h"
#include "archive/reader/byte_source.h"
#include "archive/reader/disk_manager.h"
#include "archive/format/error_codes.h"
#include "archive/format/path_names.h"
#include "archive/reader/stream32.h"
#include "archive/format/zip_cipher.h"
#include "platform/errors.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/message_pump.h"
#include "platform/temp_files.h"

uint8_t Percent(int64_t done, int64_t total) {
    if (total <= 0) return 0;
    // nearbyint rounds halves to even under the default rounding mode.
    const double percent = std::nearbyint(static_cast<double>(done) * 100.0 / static_cast<double>(total));
    if (percent <= 0.0) return 0;
    if (percent >= 100.0) return 100;
    return static_cast<uint8_t>(percent);
}

TZipCommon::TZipCommon() : diskManager_(std::make_unique<TDiskManager>()) {}

TZipCommon::~TZipCommon() = default;

void TZipCommon::SetExtractDir(const std::string& folder) {
    if (folder.empty()) {
        extractDir_ = ExtractFilePath(ArchiveFile());
        return;
    }
    extractDir_ = ExtractFilePath(IncludeTrailingSeparator(folder));
}

void TZipCommon::SetPassword(const std::string& password) {
    password_ = password;
    passwordCursor_ = 0;
}

void TZipCommon::ResetRunState() {
    SetCancel(false);
    filesExtracted_ = 0;
    unpackedTotal_ = 0;
    packedTotal_ = 0;
    bytesRemaining_ = 0;
    newestDate_ = 0;
    lastArchivePercent_ = 0;
    entryEncrypted_ = false;
    passwordFailed_ = false;
    SetPassword("");
    outputPath_.clear();
}

void TZipCommon::SetCancel(bool value) {
    cancelFlag_ = value;
    if (value) ReportError(ArchiveFile(), outputPath_, "0", ErrorCode::UserCanceled);
}

TDateTime TZipCommon::DosToDateTime(uint32_t dosDateTime) const { return DosDateTimeToDateTime(dosDateTime); }

void TZipCommon::ReportError(const std::string& fileName, const std::string& extendedMsg,
                             const std::string& volumeID, int32_t code) {
    TimerPause pause(elapsedTimer_);
    if (IsCancelled()) code = ErrorCode::UserCanceled;
    if (OnError) OnError(this, fileName, extendedMsg, volumeID, code);
}

void TZipCommon::RaiseError(TExceptionClass exceptionClass, const std::string& fileName,
                            const std::string& extendedMsg, const std::string& volumeID, int32_t code) {
    ReportError(fileName, extendedMsg, volumeID, code);
    if (!IsCancelled()) exceptionClass(ErrorMessage(code));
}

void TZipCommon::ReportProgress(int64_t fileDone, int64_t fileSize, int64_t archiveTotal) {
    try {
        lastFilePercent_ = Percent(fileDone, fileSize);
        // Both counts derive from sizes the archive declares: a difference
        // beyond 64 bits saturates, which Percent clamps the same way.
        constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
        constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
        int64_t archiveDone = 0;
        if (bytesRemaining_ < 0 && archiveTotal > kMax + bytesRemaining_)
            archiveDone = kMax;
        else if (bytesRemaining_ > 0 && archiveTotal < kMin + bytesRemaining_)
            archiveDone = kMin;
        else
            archiveDone = archiveTotal - bytesRemaining_;
        lastArchivePercent_ = Percent(archiveDone, archiveTotal);
        platform::ProcessMessages();
        if (OnProgress) OnProgress(this, lastFilePercent_, lastArchivePercent_);
    } catch (...) {
        // Progress never ends a run.
    }
}

void TZipCommon::BuildOutputPath(const std::string& name) {
    if (name.empty()) {
        outputPath_.clear();
        return;
    }
    if (extractDir_.empty()) {
        SetExtractDir(ExtractFilePath(ArchiveFile()));
        if (extractDir_.empty()) SetExtractDir(platform::CurrentDirectory());
    }
    outputPath_ = EntryOutputPath(extractDir_, name, useStoredDirs_);
}

int32_t TZipCommon::WriteOut(TStream32& target, const void* buffer, int32_t count, bool updateCrc, int crcKind) {
    platform::SetLastError(0);
    const int32_t written = target.Write(buffer, count);
    if (written < count) {
        if (platform::IsDiskFullError(platform::LastError())) {
            filesExtracted_ = 0;
            RaiseError(ArchiveFile(), outputPath_, "0", ErrorCode::DiskFull);
        } else {
            if (filesExtracted_ > 0) --filesExtracted_;
            ReportError(ArchiveFile(), outputPath_, "0", ErrorCode::WriteError);
        }
        return written;
    }
    if (updateCrc) UpdateRunningCrc(crcKind, buffer, static_cast<size_t>(written));
    return written;
}

int32_t TZipCommon::DecipherWriteOut(TStream32& target, void* buffer, int32_t count, bool updateCrc,
                                     int crcKind) {
    DecipherBlock(buffer, count);
    return WriteOut(target, buffer, count, updateCrc, crcKind);
}

void TZipCommon::DecipherBlock(void* buffer, int32_t count) {
    if (entryEncrypted_ && IsZipFamily(arcType_) && count > 0)
        EntryCipher().DecipherBuffer(buffer, static_cast<size_t>(count));
}

int32_t TZipCommon::ReadIn(TStream32& source, void* buffer, int32_t count, int crcKind, bool encrypted) {
    int32_t got = 0;
    try {
        got = source.Read(buffer, count);
    } catch (...) {
        got = 0;  // a failed read is a read of nothing
    }
    if (got <= 0) return 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (encrypted) {
        if (IsZipFamily(arcType_)) {
            EntryCipher().DecipherBuffer(bytes, static_cast<size_t>(got));
        } else if ((arcType_ == atArj || arcType_ == atArjExe) && !password_.empty()) {
            for (int32_t i = 0; i < got; ++i) {
                bytes[i] ^= static_cast<uint8_t>(password_[passwordCursor_]);
                passwordCursor_ = (passwordCursor_ + 1) % password_.size();
            }
        }
    }
    UpdateRunningCrc(crcKind, bytes, static_cast<size_t>(got));
    return got;
}

void TZipCommon::UpdateRunningCrc(int crcKind, const void* buffer, size_t count) {
    if (crcKind == kCrc32) {
        runningCrc_ = UpdateCrc32(runningCrc_, buffer, count);
    } else if (crcKind == kCrc16) {
        runningCrc_ = UpdateCrc16(runningCrc_, buffer, count);
    }
}

uint32_t TZipCommon::EntryFileDate(uint32_t entryDate) const {
    switch (dateAttribute_) {
        case daSysDate: return LocalToDosDateTime(platform::CurrentLocalTime());
        case daMaxFileDate: return newestDate_;
        default: return entryDate;
    }
}

std::string TZipCommon::MakeTempFileName(const std::string& folder) const {
    std::string where = folder;
    if (where.empty() || !platform::DirectoryExists(where)) {
        where = platform::TempFolder();
        if (!platform::DirectoryExists(where)) platform::CreateDir(where);
    }
    return platform::CreateTempFile(where, "krv");
}

TArcType TZipCommon::DetectArcType(TStream32& archive) {
    ByteSource source(archive);
    ArchiveDetector detector(source, archiveFile_, Facts(), [this] { return CheckSpannedDisk(); });
    return detector.DetectArcType();
}
