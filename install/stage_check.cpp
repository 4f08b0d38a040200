#include "install/stage_check.h"

#include "install/entry_on_disk.h"
#include "install/update_folder.h"
#include "platform/file_system.h"
#include "release/entry_name.h"

bool TStageCheck::Holds(const std::string& stage, const std::vector<release::ManifestEntry>& entries,
                        TInstallFailure& failure) {
    checked_.clear();
    if (HoldsExactly(stage, entries, failure)) return true;
    // Nothing of a stage refused is ever remembered.
    checked_.clear();
    return false;
}

bool TStageCheck::HoldsExactly(const std::string& stage, const std::vector<release::ManifestEntry>& entries,
                               TInstallFailure& failure) {
    std::set<std::string> names;
    for (const release::ManifestEntry& entry : entries) {
        if (!release::IsPlainEntryName(entry.name)) {
            failure = {"refused", entry.name, 0};
            return false;
        }
        const std::string relative = NativeRelativePath(platform::NativeEntryName(entry.name));
        if (!HoldsEntry(stage, entry, relative)) {
            failure = {"sha256", entry.name, 0};
            return false;
        }
        names.insert(relative);
    }
    return HoldsOnly(stage, "", names, failure);
}

bool TStageCheck::HoldsEntry(const std::string& stage, const release::ManifestEntry& entry,
                             const std::string& relative) {
    const std::string path = stage + relative;
    if (ReachedThroughLinkedFolder(stage, path)) return false;
    if (entry.IsSymbolicLink()) return LinkMatchesEntry(files_, path, entry);
    const std::optional<TReadFile> read = ReadRegularFile(files_, path);
    if (!read || read->digest != entry.sha256) return false;
    checked_.push_back({entry.name, read->stamp, read->digest});
    return true;
}

// Nothing but the listed entries may have come out: the swap would put
// anything else in place unchecked.
bool TStageCheck::HoldsOnly(const std::string& stage, const std::string& relative,
                            const std::set<std::string>& names, TInstallFailure& failure) {
    const std::optional<std::vector<platform::FolderEntry>> listed = files_.ListFolder(stage + relative);
    if (!listed) {
        failure = {"list", relative, files_.LastError()};
        return false;
    }
    for (const platform::FolderEntry& entry : *listed) {
        const std::string path = relative + entry.name;
        if (entry.isFolder) {
            if (!HoldsOnly(stage, path + platform::kPathSeparator, names, failure)) return false;
        } else if (!names.contains(path)) {
            failure = {"refused", path, 0};
            return false;
        }
    }
    return true;
}

void TStageCheck::RememberInstalled(TInstalledFileHashes& hashes) const {
    for (const TChecked& checked : checked_) hashes.Remember(checked.name, checked.stamp, checked.digest);
}
