#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct FolderEntry {
    std::string name;
    bool isFolder = false;  // a link to a folder is not one: it is never entered
    bool isLink = false;
};

// The names in one folder, without "." and ".."; nothing when it cannot be read.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& folder);

// True when something stands at the path: a file, a folder, or a link,
// whether or not what the link names exists.
bool EntryExists(const std::string& path);

// Removes a folder that holds nothing.
bool RemoveEmptyFolder(const std::string& folder);

}  // namespace platform
