#include "platform/posix/drive_info_posix.h"

#include "platform/drive_info.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace platform {
namespace {

struct MountEntry {
    std::string fileSystemType;
    std::string source;
};

// Mount points in /proc/self/mountinfo escape blanks and the like as octal "\040".
std::string DecodeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::string WithoutTrailingSlash(const std::string& root) {
    return root.size() > 1 && root.back() == '/' ? root.substr(0, root.size() - 1) : root;
}

// The last mount listed for the mount point wins, as it hides the earlier ones.
std::optional<MountEntry> FindMount(const std::string& root) {
    std::ifstream mountInfo("/proc/self/mountinfo");
    const std::string wanted = WithoutTrailingSlash(root);
    std::optional<MountEntry> found;
    std::string line;
    while (std::getline(mountInfo, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, mountRoot, mountPoint, field;
        fields >> id >> parent >> device >> mountRoot >> mountPoint;
        if (DecodeMountField(mountPoint) != wanted) continue;
        while (fields >> field && field != "-") {
        }
        MountEntry entry;
        fields >> entry.fileSystemType >> entry.source;
        found = entry;
    }
    return found;
}

bool ReadsOne(const std::string& path) {
    std::ifstream in(path);
    std::string value;
    return in >> value && value == "1";
}

bool IsRemovableDevice(dev_t device) {
    const std::string base =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char resolved[PATH_MAX];
    if (!realpath(base.c_str(), resolved)) return false;
    std::string node = resolved;
    // A partition carries no removable flag of its own; its disk does.
    if (access((node + "/partition").c_str(), F_OK) == 0) node = node.substr(0, node.rfind('/'));
    return ReadsOne(node + "/removable");
}

std::string LabelOf(dev_t device) {
    const std::string folder = "/dev/disk/by-label/";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return {};
    std::string label;
    while (dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        struct stat target {};
        if (stat((folder + name).c_str(), &target) == 0 && S_ISBLK(target.st_mode) && target.st_rdev == device) {
            label = DecodeDeviceLabel(name);
            break;
        }
    }
    closedir(dir);
    return label;
}

class PosixDriveInfo final : public DriveInfo {
public:
    std::string RootOf(const std::string& path) override {
        std::string current = path;
        if (current.empty() || current[0] != '/') {
            char cwd[PATH_MAX];
            if (!getcwd(cwd, sizeof cwd)) return "/";
            current = std::string(cwd) + "/" + current;
        }
        struct stat info {};
        // Climb to the nearest folder that exists (the file itself may not).
        while (stat(current.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            const size_t slash = current.rfind('/');
            if (slash == 0 || slash == std::string::npos) return "/";
            current.resize(slash);
        }
        char resolved[PATH_MAX];
        if (!realpath(current.c_str(), resolved)) return "/";
        current = resolved;
        // The mount point is the highest folder on the same device.
        while (current != "/") {
            const size_t slash = current.rfind('/');
            const std::string parent = slash == 0 ? "/" : current.substr(0, slash);
            struct stat parentInfo {};
            if (stat(parent.c_str(), &parentInfo) != 0 || parentInfo.st_dev != info.st_dev) break;
            current = parent;
        }
        return current == "/" ? current : current + "/";
    }

    DriveType TypeOf(const std::string& root) override {
        struct stat info {};
        if (stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return DriveType::NoRootDirectory;
        static const std::set<std::string> remote = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p"};
        static const std::set<std::string> optical = {"iso9660", "udf"};
        static const std::set<std::string> memory = {"tmpfs", "ramfs"};
        if (auto mount = FindMount(root)) {
            if (remote.count(mount->fileSystemType)) return DriveType::Remote;
            if (optical.count(mount->fileSystemType)) return DriveType::CdRom;
            if (memory.count(mount->fileSystemType)) return DriveType::RamDisk;
        }
        return IsRemovableDevice(info.st_dev) ? DriveType::Removable : DriveType::Fixed;
    }

    std::optional<DiskSpace> SpaceOf(const std::string& root) override {
        struct statvfs fs {};
        if (statvfs(root.c_str(), &fs) != 0) return std::nullopt;
        return DiskSpace{static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize,
                         static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize};
    }

    bool IsWriteProtected(const std::string& root) override {
        std::string pattern = WithoutTrailingSlash(root) + "/krvXXXXXX";
        if (pattern.compare(0, 2, "//") == 0) pattern.erase(0, 1);
        const int fd = mkstemp(pattern.data());
        // A read-only file system counts as write-protected only on removable
        // media, where it stands for the medium's lock; read-only mounts of
        // other drives (optical discs, system folders) are not locked disks.
        if (fd < 0) return errno == EROFS && TypeOf(root) == DriveType::Removable;
        close(fd);
        return unlink(pattern.c_str()) != 0;
    }

    std::optional<VolumeInformation> VolumeOf(const std::string& root, int& error) override {
        struct statvfs fs {};
        struct stat info {};
        if (statvfs(root.c_str(), &fs) != 0 || stat(root.c_str(), &info) != 0) {
            error = errno;
            return std::nullopt;
        }
        VolumeInformation volume;
        volume.label = LabelOf(info.st_dev);
        volume.serialNumber = static_cast<uint32_t>(fs.f_fsid);
        volume.maxComponentLength = static_cast<uint32_t>(fs.f_namemax);
        volume.fileSystemFlags = static_cast<uint32_t>(fs.f_flag);
        if (auto mount = FindMount(root)) volume.fileSystemName = mount->fileSystemType;
        return volume;
    }
};

}  // namespace

std::string DecodeDeviceLabel(const std::string& linkName) {
    std::string out;
    for (size_t i = 0; i < linkName.size(); ++i) {
        if (linkName.compare(i, 2, "\\x") == 0 && i + 3 < linkName.size() &&
            std::isxdigit(static_cast<unsigned char>(linkName[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(linkName[i + 3]))) {
            out += static_cast<char>(std::stoi(linkName.substr(i + 2, 2), nullptr, 16));
            i += 3;
            continue;
        }
        out += linkName[i];
    }
    return out;
}

DriveInfo& SystemDrives() {
    static PosixDriveInfo drives;
    return drives;
}

bool AskRetryInMessageBox(const std::string&, const std::string&) { return false; }

}  // namespace platform
