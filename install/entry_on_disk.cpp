#include "install/entry_on_disk.h"

#include "platform/file_attributes.h"
#include "platform/file_system.h"
#include "platform/safe_path.h"

bool ReachedThroughLinkedFolder(const std::string& root, const std::string& path) {
    const size_t separator = path.find_last_of(platform::kPathSeparators);
    return separator != std::string::npos && platform::PathHasLinkBelow(root, path.substr(0, separator + 1));
}

std::optional<TReadFile> ReadRegularFile(TInstallFileSystem& files, const std::string& path) {
    const std::optional<platform::FileStamp> before = files.Stamp(path);
    if (!before) return std::nullopt;
    const std::optional<platform::Sha256Digest> digest = files.Sha256(path);
    // Written to while it was read, the digest is of no whole version.
    if (!digest || files.Stamp(path) != before) return std::nullopt;
    return TReadFile{*before, *digest};
}

bool LinkMatchesEntry(TInstallFileSystem& files, const std::string& path, const release::ManifestEntry& entry) {
    const std::optional<std::string> target = files.LinkTarget(path);
    return target && target->size() == entry.size && platform::Sha256OfBytes(*target) == entry.sha256;
}

bool ModeMatchesEntry(const platform::FileStamp& stamp, const release::ManifestEntry& entry) {
    const uint32_t unixMode = stamp.attributes >> 16;
    if (unixMode != 0 && entry.HasUnixMode()) return (unixMode & 0777) == entry.Permissions();
    return (stamp.attributes & platform::kAttrReadOnly) == (entry.externalAttributes & platform::kAttrReadOnly);
}
