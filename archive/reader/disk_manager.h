#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/drive_info.h"
#include "platform/object.h"

// The root component's prompts for a drive that is not ready and for a
// write-protected disk: Cancel arrives true; left true, the disk step fails.
using TDrivePrompt = std::function<void(TObject* sender, const std::string& drive, bool& cancel)>;

// The disk number a volume label names: the digits after the last "PKBACK# "
// in it; 0 when there is none or anything but digits follows.
uint16_t DiskNumberOfLabel(const std::string& label);

// Drive and volume information of the drive holding an archive. Owned by the
// component; filled by Query.
class TDiskManager : public TObject {
public:
    // Receives (drive, code) for every failure of a query.
    using Reporter = std::function<void(const std::string& drive, int32_t code)>;

    // Queries the drive of `path`: waits for a drive that is not ready and for
    // a write-protected disk as long as the prompts ask to retry (without a
    // prompt the query fails), then reads the volume facts, asking the
    // not-accessible prompt of the platform to retry. The prompts receive
    // `sender`. False when the query failed; `report` hears why.
    bool Query(const std::string& path, TObject* sender, const TDrivePrompt& notReady,
               const TDrivePrompt& writeProtected, const Reporter& report);

    const std::string& Drive() const { return drive_; }
    const std::string& VolumeLabel() const { return label_; }
    uint16_t DiskNumber() const { return diskNumber_; }
    uint32_t SerialNumber() const { return serialNumber_; }
    const std::string& SerialNumberText() const { return serialText_; }  // eight hexadecimal digits
    uint32_t MaxComponentLength() const { return maxComponentLength_; }
    uint32_t FileSystemFlags() const { return fileSystemFlags_; }
    const std::string& FileSystemName() const { return fileSystemName_; }
    platform::DriveType DriveType() const { return driveType_; }
    const std::string& DriveTypeName() const { return driveTypeName_; }
    uint64_t FreeBytes() const { return freeBytes_; }
    uint64_t TotalBytes() const { return totalBytes_; }
    // The kind of removable medium; no query for it exists here, so 0.
    int MediaKind() const { return 0; }

private:
    bool WaitUntilReady(TObject* sender, const TDrivePrompt& notReady, const Reporter& report);
    bool WaitUntilWritable(TObject* sender, const TDrivePrompt& writeProtected, const Reporter& report);

    std::string drive_;
    std::string label_;
    uint16_t diskNumber_ = 0;
    uint32_t serialNumber_ = 0;
    std::string serialText_;
    uint32_t maxComponentLength_ = 0;
    uint32_t fileSystemFlags_ = 0;
    std::string fileSystemName_;
    platform::DriveType driveType_ = platform::DriveType::Unknown;
    std::string driveTypeName_;
    uint64_t freeBytes_ = 0;
    uint64_t totalBytes_ = 0;
};
