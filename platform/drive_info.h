#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {

// Drive type codes, numbered as the system's drive-type query numbers them.
enum class DriveType : uint32_t {
    Unknown = 0,
    NoRootDirectory = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

struct VolumeInformation {
    std::string label;
    uint32_t serialNumber = 0;
    uint32_t maxComponentLength = 0;
    uint32_t fileSystemFlags = 0;
    std::string fileSystemName;
};

struct DiskSpace {
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
};

// What the archive component asks about the drive (here: the mounted file
// system) that holds a file. Tests install a fake drive through SetDriveInfo.
class DriveInfo {
public:
    virtual ~DriveInfo() = default;

    // The root of the drive holding `path` (a mount point, ending in "/").
    virtual std::string RootOf(const std::string& path) = 0;
    virtual DriveType TypeOf(const std::string& root) = 0;
    // Free and total bytes; nothing while the drive is not ready.
    virtual std::optional<DiskSpace> SpaceOf(const std::string& root) = 0;
    // True when a file cannot be created and deleted again in the root because
    // a removable medium is locked; other refusals (permissions, read-only
    // mounts of other drives) do not count.
    virtual bool IsWriteProtected(const std::string& root) = 0;
    // The volume's facts; nothing with the system's error code in `error`.
    virtual std::optional<VolumeInformation> VolumeOf(const std::string& root, int& error) = 0;
};

// The drive queries in use: the system's, unless a replacement is installed.
DriveInfo& Drives();
// Installs a replacement (not owned); nullptr restores the system's queries.
void SetDriveInfo(DriveInfo* replacement);

// Asks the user whether to retry reading a drive that is not accessible.
// `text` is the full message. The GUI installs a message box here; without a
// prompt the answer is Cancel (false).
using DriveNotAccessiblePrompt = std::function<bool(const std::string& text)>;
void SetDriveNotAccessiblePrompt(DriveNotAccessiblePrompt prompt);
bool AskRetryDriveNotAccessible(const std::string& text);

// The system's Retry/Cancel message box with an error icon, for a native GUI
// to install as the prompt; true for Retry. Where the system has no message
// box of its own (POSIX), the answer is Cancel.
bool AskRetryInMessageBox(const std::string& caption, const std::string& text);

}  // namespace platform
