#include "archive/extract/output_path.h"

#include <vector>

#include "archive/format/path_names.h"
#include "platform/file_system.h"
#include "platform/safe_path.h"

namespace {

// The parts of a path that name something: neither empty nor ".".
std::vector<std::string> NamedParts(const std::string& path) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        size_t end = path.find_first_of(platform::kPathSeparators, at);
        if (end == std::string::npos) end = path.size();
        if (end > at && path.compare(at, end - at, ".") != 0) parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::string JoinBelow(const std::string& root, const std::vector<std::string>& parts, size_t count) {
    std::string path = root;
    for (size_t i = 0; i < count; ++i) path += parts[i] + platform::kPathSeparator;
    return path;
}

// Any separator the system takes counts, so that a "/" on Windows climbs
// here as it would there.
bool HasParentComponent(const std::string& path, size_t from) {
    size_t at = from;
    while (at <= path.size()) {
        size_t end = path.find_first_of(platform::kPathSeparators, at);
        if (end == std::string::npos) end = path.size();
        if (path.compare(at, end - at, "..") == 0 && end - at == 2) return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

std::string OutputRoot(const std::string& extractDir) {
    std::string root = IncludeTrailingSeparator(extractDir);
    if (RootPrefixLength(root) == 0) root.insert(root.begin(), platform::kPathSeparator);
    return root;
}

std::string EntryOutputPath(const std::string& extractDir, const std::string& name, bool useStoredDirs) {
    if (name.empty()) return {};
    std::string path = platform::NativeEntryName(name);
    std::string folder;
    if (useStoredDirs) {
        path.erase(0, RootPrefixLength(path));
        folder = IncludeTrailingSeparator(extractDir) + ExtractFilePath(path);
    } else {
        folder = extractDir;
    }
    if (RootPrefixLength(folder) == 0) folder.insert(folder.begin(), platform::kPathSeparator);
    return IncludeTrailingSeparator(folder) + ExtractFileName(path);
}

bool OutputPathStaysInside(const std::string& extractDir, const std::string& path) {
    const std::string root = OutputRoot(extractDir);
    if (path.compare(0, root.size(), root) != 0) return false;
    return !HasParentComponent(path, root.size());
}

bool LinkTargetStaysInside(const std::string& root, const std::string& linkFolder, const std::string& target) {
    if (target.empty() || RootPrefixLength(target) > 0 || target.find('\0') != std::string::npos) return false;
    std::vector<std::string> way = NamedParts(linkFolder.substr(root.size()));
    size_t realFolders = way.size();  // the first parts of the way known to be real folders
    const std::vector<std::string> parts = NamedParts(target);
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part == "..") {
            if (way.empty() || way.size() > realFolders) return false;
            way.pop_back();
            realFolders = way.size();
            continue;
        }
        // A part this system would not take as written (a device name on Windows).
        if (platform::NativeEntryName(part) != part) return false;
        way.push_back(part);
        if (way.size() - 1 != realFolders) continue;  // below a missing folder nothing exists
        const std::string parent = JoinBelow(root, way, way.size() - 1);
        const std::string path = parent + part;
        if (platform::PathHasLinkBelow(parent, path)) {
            if (i + 1 < parts.size()) return false;
        } else if (platform::DirectoryExists(path)) {
            realFolders = way.size();
        }
    }
    return true;
}

bool LinkFreeFolders::FollowsNoLink(const std::string& root, const std::string& path, bool lastPartToo) {
    const std::string folder = ExtractFilePath(path);
    if (folder != checkedFolder_) {
        if (platform::PathHasLinkBelow(root, folder)) return false;
        checkedFolder_ = folder;
    }
    return !lastPartToo || !platform::PathHasLinkBelow(folder, path);
}
