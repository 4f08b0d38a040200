#include "platform/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace platform {

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::vector<FolderEntry> entries;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        FolderEntry found{entry->d_name};
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::lstat((prefix + found.name).c_str(), &st) == 0)
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        found.isFolder = type == DT_DIR;
        found.isLink = type == DT_LNK;
        entries.push_back(std::move(found));
    }
    ::closedir(dir);
    return entries;
}

bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool RemoveEmptyFolder(const std::string& folder) { return ::rmdir(folder.c_str()) == 0; }

}  // namespace platform
