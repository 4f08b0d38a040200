#include "archive/reader/disk_manager.h"

#include "archive/format/error_codes.h"
#include "platform/errors.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* const kLabelMark = "PKBACK# ";

// Display names by drive-type code. A removable drive would be named by the
// kind of its medium, which cannot be asked here: it shows as "Unknown".
const char* const kDriveTypeNames[] = {"Unknown", "None", "Floppy", "Fixed", "Network", "CD-ROM", "RAM"};

void Report(const TDiskManager::Reporter& report, const std::string& drive, int32_t code) {
    if (report) report(drive, code);
}

// Asks a prompt whether to try again; false (give up) without a prompt.
bool AskRetry(const TDrivePrompt& prompt, TObject* sender, const std::string& drive) {
    bool cancel = true;
    prompt(sender, drive, cancel);
    return !cancel;
}

}  // namespace

uint16_t DiskNumberOfLabel(const std::string& label) {
    const size_t mark = label.rfind(kLabelMark);
    if (mark == std::string::npos) return 0;
    std::string digits = label.substr(mark + std::char_traits<char>::length(kLabelMark));
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));  // labels may pad with zeros
    if (digits.size() > 5) return 0;
    const unsigned long number = std::stoul(digits);
    return number > 0xFFFF ? 0 : static_cast<uint16_t>(number);
}

bool TDiskManager::WaitUntilReady(TObject* sender, const TDrivePrompt& notReady, const Reporter& report) {
    while (!platform::Drives().SpaceOf(drive_)) {
        if (!notReady) {
            Report(report, drive_, ErrorCode::NotAccessible);
            return false;
        }
        if (!AskRetry(notReady, sender, drive_)) {
            Report(report, drive_, ErrorCode::UserCanceled);
            return false;
        }
    }
    return true;
}

bool TDiskManager::WaitUntilWritable(TObject* sender, const TDrivePrompt& writeProtected, const Reporter& report) {
    while (platform::Drives().IsWriteProtected(drive_)) {
        if (!writeProtected) {
            Report(report, drive_, ErrorCode::WriteProtected);
            return false;
        }
        if (!AskRetry(writeProtected, sender, drive_)) {
            Report(report, drive_, ErrorCode::UserCanceled);
            return false;
        }
    }
    return true;
}

bool TDiskManager::Query(const std::string& path, TObject* sender, const TDrivePrompt& notReady,
                         const TDrivePrompt& writeProtected, const Reporter& report) {
    platform::DriveInfo& drives = platform::Drives();
    drive_ = drives.RootOf(path);
    if (!WaitUntilReady(sender, notReady, report) || !WaitUntilWritable(sender, writeProtected, report))
        return false;

    std::optional<platform::VolumeInformation> volume;
    for (;;) {
        int error = 0;
        volume = drives.VolumeOf(drive_, error);
        if (volume) break;
        // Shown as the user knows the path: native, not upper-cased.
        const std::string text = drive_ + "is not accessible\r\n\r\n" + platform::ErrorText(error);
        if (!platform::AskRetryDriveNotAccessible(text)) {
            Report(report, drive_, ErrorCode::NotAccessible);
            return false;
        }
    }

    label_ = volume->label;
    diskNumber_ = DiskNumberOfLabel(label_);
    serialNumber_ = volume->serialNumber;
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", serialNumber_);
    serialText_ = hex;
    maxComponentLength_ = volume->maxComponentLength;
    fileSystemFlags_ = volume->fileSystemFlags;
    fileSystemName_ = volume->fileSystemName;

    driveType_ = drives.TypeOf(drive_);
    if (driveType_ == platform::DriveType::NoRootDirectory) {
        Report(report, drive_, ErrorCode::NotAccessible);
        return false;
    }
    const auto code = static_cast<size_t>(driveType_);
    driveTypeName_ = driveType_ == platform::DriveType::Removable || code >= std::size(kDriveTypeNames)
                         ? kDriveTypeNames[0]
                         : kDriveTypeNames[code];
    const std::optional<platform::DiskSpace> space = drives.SpaceOf(drive_);
    freeBytes_ = space ? space->freeBytes : 0;
    totalBytes_ = space ? space->totalBytes : 0;
    return true;
}
