#include "app/core/dropped_files.h"

#include "platform/ascii.h"

std::set<std::string> DroppedFiles(TInstalledFileHashes& installedFiles, const release::ReleaseManifest& installed,
                                   const release::ReleaseManifest& offered) {
    std::set<std::string> kept;
    for (const release::ManifestEntry& entry : offered.entries) kept.insert(platform::AsciiUpperCase(entry.name));
    std::set<std::string> dropped;
    for (const release::ManifestEntry& entry : installed.entries)
        if (!kept.contains(platform::AsciiUpperCase(entry.name)) && installedFiles.Matches(entry)) dropped.insert(entry.name);
    return dropped;
}
