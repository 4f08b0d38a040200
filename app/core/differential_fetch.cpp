#include "app/core/differential_fetch.h"

#include <cstdint>
#include <utility>

#include "download/download_item.h"
#include "platform/file_system.h"
#include "release/entry_name.h"
#include "release/fetched_entries_archive.h"

TDifferentialFetch::TDifferentialFetch(TInstallFileSystem& files, const TUpdateFolder& folder,
                                       release::ReleaseManifest manifest)
    : files_(files), folder_(folder), manifest_(std::move(manifest)), hashes_(files, folder) {
    plan_ = release::PlanDifferentialUpdate(
        manifest_, [this](const release::ManifestEntry& entry) { return IsUnchanged(entry); });
    // The manifest may claim any sizes: the window and the download count the
    // bytes fetched in 32 bits, and their archive has no zip64 records.
    if (plan_.fallback.empty() && plan_.bytesToFetch > static_cast<uint64_t>(INT32_MAX)) {
        plan_ = {"the changed entries need " + std::to_string(plan_.bytesToFetch) + " bytes, more than one fetch holds",
                 {}, {}, 0};
    }
}

// Same size and same SHA-256. A file of another size is changed without
// being read.
bool TDifferentialFetch::IsUnchanged(const release::ManifestEntry& entry) {
    const std::optional<platform::FileStamp> stamp = files_.Stamp(folder_.program + NativeRelativePath(entry.name));
    if (!stamp || stamp->size != entry.size) return false;
    const std::optional<platform::Sha256Digest> digest = hashes_.DigestOf(entry.name);
    return digest && *digest == entry.sha256;
}

std::string TDifferentialFetch::Summary() const {
    return std::to_string(plan_.entries.size()) + " of " + std::to_string(manifest_.entries.size()) + " entries, " +
           std::to_string(plan_.bytesToFetch) + " of " + std::to_string(manifest_.archive.length) + " bytes";
}

void TDifferentialFetch::QueueRanges(TDownLoadItems& items, const std::string& url, void* data) {
    items.Clear();
    files_.RemoveFile(ArchivePath());
    const std::string name = ArchivePath().substr(folder_.Root().size());
    for (const release::TArchiveRange& range : plan_.ranges) {
        TDownLoadItem* item = items.Add();
        item->SetURL(url);
        item->Data = data;
        item->SetLocalDir(folder_.Root());
        item->SetFileName(name);
        item->SetByteRange(TDownLoadItem::TByteRange{static_cast<int64_t>(range.first), static_cast<int64_t>(range.last)});
    }
}

bool TDifferentialFetch::AnsweredAsAsked(const TDownLoadItem& item) const {
    return !item.RangeRefused() && item.RangeTotal() == static_cast<int64_t>(manifest_.archive.length);
}

std::string TDifferentialFetch::CompleteArchive() {
    return release::CompleteFetchedEntriesArchive(ArchivePath(), manifest_, plan_.entries);
}

bool TDifferentialFetch::StageMatchesManifest(const std::string& stage, TInstallFailure& failure) {
    std::set<std::string> fetchedNames;
    for (const release::TFetchedEntry& fetched : plan_.entries) {
        const release::ManifestEntry& entry = manifest_.entries[fetched.entry];
        const std::optional<platform::Sha256Digest> digest = files_.Sha256(stage + NativeRelativePath(entry.name));
        if (!digest || *digest != entry.sha256) {
            failure = {"sha256", entry.name, 0};
            return false;
        }
        fetchedNames.insert(NativeRelativePath(entry.name));
    }
    return HoldsOnly(stage, "", fetchedNames, failure);
}

// Nothing but the fetched entries may have come out: the swap would put
// anything else in place unchecked.
bool TDifferentialFetch::HoldsOnly(const std::string& stage, const std::string& relative,
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

void TDifferentialFetch::RememberInstalled() {
    for (const release::TFetchedEntry& fetched : plan_.entries) {
        const release::ManifestEntry& entry = manifest_.entries[fetched.entry];
        hashes_.Remember(entry.name, entry.sha256);
    }
    hashes_.Save();
}

void RememberWholeInstall(TInstallFileSystem& files, const TUpdateFolder& folder,
                          const release::ReleaseManifest& manifest) {
    TInstalledFileHashes hashes(files, folder);
    for (const release::ManifestEntry& entry : manifest.entries)
        if (release::IsPlainEntryName(entry.name)) hashes.Remember(entry.name, entry.sha256);
    hashes.Save();
}
