#pragma once

#include <set>
#include <string>
#include <vector>

#include "install/install_file_system.h"
#include "install/installed_file_hashes.h"
#include "install/update_transaction.h"
#include "platform/file_times.h"
#include "platform/sha256.h"
#include "release/release_manifest.h"

// The stage checked against the manifest before the swap, which puts in place
// whatever the stage holds: the whole archive's entries as well as entries
// fetched alone. Proving the archive the publisher's says nothing of the
// bytes each entry gave, so only digests read here are ever remembered.
class TStageCheck {
public:
    explicit TStageCheck(TInstallFileSystem& files) : files_(files) {}

    // True when `stage` (ending in the separator) holds each of `entries`
    // under the name the extractor gives it on this system, a link entry as
    // a symbolic link with the entry's target text and any other as a
    // regular file with the entry's SHA-256, and besides them folders only.
    // Otherwise false with the first fault in `failure`: "sha256" and the
    // entry's name for one missing, of the other kind, reached through a
    // linked folder or of other bytes; "refused" and the name for an entry
    // whose name is no plain relative path, or for anything in the stage the
    // entries do not list.
    bool Holds(const std::string& stage, const std::vector<release::ManifestEntry>& entries,
               TInstallFailure& failure);

    // After the install committed: each regular file checked, now in place,
    // is remembered with the digest read here, where it is still the file
    // that was read. The caller saves `hashes`.
    void RememberInstalled(TInstalledFileHashes& hashes) const;

private:
    struct TChecked {
        std::string name;
        platform::FileStamp stamp;
        platform::Sha256Digest digest{};
    };

    bool HoldsExactly(const std::string& stage, const std::vector<release::ManifestEntry>& entries,
                      TInstallFailure& failure);
    bool HoldsEntry(const std::string& stage, const release::ManifestEntry& entry, const std::string& relative);
    bool HoldsOnly(const std::string& stage, const std::string& relative, const std::set<std::string>& names,
                   TInstallFailure& failure);

    TInstallFileSystem& files_;
    std::vector<TChecked> checked_;
};
