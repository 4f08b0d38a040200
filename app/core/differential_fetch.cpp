#include "app/core/differential_fetch.h"

#include <cstdint>
#include <utility>

#include "download/download_item.h"
#include "release/fetched_entries_archive.h"

TDifferentialFetch::TDifferentialFetch(TInstallFileSystem& files, const TUpdateFolder& folder,
                                       release::ReleaseManifest manifest)
    : files_(files), folder_(folder), manifest_(std::move(manifest)), hashes_(files, folder), stageCheck_(files) {
    plan_ = release::PlanDifferentialUpdate(
        manifest_, [this](const release::ManifestEntry& entry) { return hashes_.Matches(entry); });
    // The manifest may claim any sizes: the window and the download count the
    // bytes fetched in 32 bits, and their archive has no zip64 records.
    if (plan_.fallback.empty() && plan_.bytesToFetch > static_cast<uint64_t>(INT32_MAX)) {
        plan_ = {"the changed entries need " + std::to_string(plan_.bytesToFetch) + " bytes, more than one fetch holds",
                 {}, {}, 0};
    }
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
    std::vector<release::ManifestEntry> fetched;
    for (const release::TFetchedEntry& entry : plan_.entries) fetched.push_back(manifest_.entries[entry.entry]);
    return stageCheck_.Holds(stage, fetched, failure);
}

bool TDifferentialFetch::RememberInstalled() {
    stageCheck_.RememberInstalled(hashes_);
    return hashes_.Save();
}
