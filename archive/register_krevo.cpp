#include "archive/register_krevo.h"

#include <algorithm>

#include "archive/format/archive_exceptions.h"
#include "archive/format/error_codes.h"
#include "archive/reader/file_stream32.h"
#include "platform/file_system.h"

TRegisterKrevo::TRegisterKrevo() = default;
TRegisterKrevo::~TRegisterKrevo() = default;

void TRegisterKrevo::SetArchiveFile(const std::string& fileName) {
    if (!platform::FileExists(fileName)) {
        arcType_ = atNA;
        archiveFile_.clear();
        return;
    }
    // Native separators already: the name has just been found as it stands.
    archiveFile_ = fileName;
    if (!DetectOpenedArchive()) arcType_ = atNA;
    if (IsRecognised(arcType_)) ReadVolumeNumber();
}

void TRegisterKrevo::SetArcType(TArcType /*ignored*/) {
    if (archiveFile_.empty()) return;
    if (!DetectOpenedArchive()) {
        arcType_ = atNA;
        throw EFOpenError(ErrorMessage(ErrorCode::OpenError));
    }
}

void TRegisterKrevo::SetZipCmntBufSize(int32_t size) { zipCmntBufSize_ = std::clamp(size, 2000, 32767); }

bool TRegisterKrevo::DetectOpenedArchive() {
    TFileStream32 archive(archiveFile_, fmOpenRead | fmShareDenyWrite);
    if (archive.Handle() < 0) return false;
    arcType_ = DetectArcType(archive);
    return true;
}

TArcType TRegisterKrevo::DetectArcType(TStream32& archive) {
    commentStart_ = 0;
    offsetAdjust_ = 0;
    archiveOffset_ = -1;
    headerState_.Clear();
    archiveSize_ = archive.Size();
    return atNA;
}

void TRegisterKrevo::ReadVolumeNumber() {
    volumeNumber_ = 0;
    volumeLetter_ = '\0';
}
