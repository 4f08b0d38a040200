#pragma once

#include <cstdint>
#include <string>

#include "install/install_file_system.h"
#include "install/installed_file_hashes.h"
#include "install/stage_check.h"
#include "install/update_folder.h"
#include "install/update_transaction.h"
#include "release/differential_plan.h"
#include "release/release_manifest.h"

class TDownLoadItem;
class TDownLoadItems;

// A release fetched by its changed entries alone: the entries whose
// installed file differs from the manifest's (kind, size, SHA-256 and mode;
// see TInstalledFileHashes::Matches) are fetched by range from the archive
// on the server, one range after the other into one file, which then
// becomes a small archive of just those entries.
// Nothing here is trusted before it is checked: every range answer against
// what was asked, every entry's bytes against the manifest before the swap.
class TDifferentialFetch {
public:
    // Plans the fetch: reads each installed file the manifest names, unless
    // the hash cache knows it by its stamp.
    TDifferentialFetch(TInstallFileSystem& files, const TUpdateFolder& folder, release::ReleaseManifest manifest);
    TDifferentialFetch(const TDifferentialFetch&) = delete;
    TDifferentialFetch& operator=(const TDifferentialFetch&) = delete;

    // Why the whole archive must be fetched instead; empty when the plan holds.
    const std::string& Fallback() const { return plan_.fallback; }
    // For the log: how many entries, of how many, and how many bytes.
    std::string Summary() const;
    uint64_t BytesToFetch() const { return plan_.bytesToFetch; }
    bool NothingToFetch() const { return plan_.ranges.empty(); }
    // The file the ranges are fetched into, and then the archive it becomes.
    std::string ArchivePath() const { return folder_.FetchedEntries(); }

    // Fills `items` with one item per range of `url`, each appending to
    // ArchivePath(), which starts empty.
    void QueueRanges(TDownLoadItems& items, const std::string& url, void* data);
    // True when a ranged item's answer was exactly the bytes asked of this
    // archive (the total the server gave is the manifest's length).
    bool AnsweredAsAsked(const TDownLoadItem& item) const;
    // Appends the central directory once every range has arrived; the
    // reason, when the bytes are not the entries the manifest describes.
    std::string CompleteArchive();
    // The stage holds each fetched entry as the manifest lists it (a link as
    // a link with its target text, a file with its SHA-256) and nothing
    // else: false with the first fault (see TStageCheck::Holds).
    bool StageMatchesManifest(const std::string& stage, TInstallFailure& failure);
    // After the install committed: the fetched entries, now in place, are
    // remembered with the digests the stage check read, and the cache is
    // saved, so that the next run need not read them. False when the cache
    // could not be saved.
    bool RememberInstalled();

private:
    TInstallFileSystem& files_;
    const TUpdateFolder folder_;
    const release::ReleaseManifest manifest_;
    TInstalledFileHashes hashes_;
    release::TDifferentialPlan plan_;
    TStageCheck stageCheck_;
};
