#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace platform {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool FolderWritable(const std::string& folder) {
    std::string probe = folder;
    if (!probe.empty() && probe.back() != kPathSeparator) probe += kPathSeparator;
    probe += kWriteCheckPrefix;
    probe += "XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string CurrentDirectory() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return {};
    std::string folder(buffer);
    if (folder.back() != kPathSeparator) folder += kPathSeparator;
    return folder;
}

std::string ProgramFolder() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string(1, kPathSeparator);
    std::string exe(buffer, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind(kPathSeparator) + 1);
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path.front() == kPathSeparator; }

std::string NativeEntryName(const std::string& name) { return name; }

bool NamesADevice(const std::string& /*name*/) { return false; }

}  // namespace platform
