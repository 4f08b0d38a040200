#include "app/core/dropped_files.h"

#include <algorithm>

#include "platform/ascii.h"

namespace {

std::string UpperAscii(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), platform::AsciiUpper);
    return name;
}

}  // namespace

std::set<std::string> DroppedFiles(TInstalledFileHashes& installedFiles, const release::ReleaseManifest& installed,
                                   const release::ReleaseManifest& offered) {
    std::set<std::string> kept;
    for (const release::ManifestEntry& entry : offered.entries) kept.insert(UpperAscii(entry.name));
    std::set<std::string> dropped;
    for (const release::ManifestEntry& entry : installed.entries)
        if (!kept.contains(UpperAscii(entry.name)) && installedFiles.Matches(entry)) dropped.insert(entry.name);
    return dropped;
}
