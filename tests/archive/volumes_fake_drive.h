#pragma once

// A drive the tests control: removable or not, its label, whether it is ready,
// write-protected or readable. Installed for the life of the object.

#include "platform/drive_info.h"

#include <cerrno>
#include <string>

namespace detection_test {

class FakeDrive : public platform::DriveInfo {
public:
    explicit FakeDrive(std::string root) : root_(std::move(root)) { platform::SetDriveInfo(this); }
    ~FakeDrive() override { platform::SetDriveInfo(nullptr); }

    platform::DriveType type = platform::DriveType::Fixed;
    std::string label;
    bool ready = true;
    bool writeProtected = false;
    bool readable = true;
    int readinessChecks = 0;

    std::string RootOf(const std::string&) override { return root_; }
    platform::DriveType TypeOf(const std::string&) override { return type; }
    std::optional<platform::DiskSpace> SpaceOf(const std::string&) override {
        ++readinessChecks;
        if (!ready) return std::nullopt;
        return platform::DiskSpace{1000, 1440000};
    }
    bool IsWriteProtected(const std::string&) override { return writeProtected; }
    std::optional<platform::VolumeInformation> VolumeOf(const std::string&, int& error) override {
        if (!readable) {
            error = EIO;
            return std::nullopt;
        }
        platform::VolumeInformation volume;
        volume.label = label;
        volume.serialNumber = 0x1234ABCD;
        volume.maxComponentLength = 255;
        volume.fileSystemName = "vfat";
        return volume;
    }

private:
    std::string root_;
};

}  // namespace detection_test
