#pragma once

#include "install/install_file_system.h"
#include "install/update_folder.h"
#include "release/installed_release.h"
#include "release/release_manifest.h"

#include <optional>
#include <string>

// The installed-release record in the updater's folder. Missing, unreadable
// or garbled, it reads as knowing nothing.
release::InstalledRelease LoadInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder);

// Written as the journal is: a new file, flushed, renamed over the old one,
// and the folder flushed, so that a crash leaves either record whole.
bool SaveInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder,
                          const release::InstalledRelease& record);

// The manifest of the release in place, kept as it was verified so that the
// next release can tell which of its files it drops. Written as the record
// is, before it.
bool SaveInstalledManifest(TInstallFileSystem& files, const TUpdateFolder& folder, const std::string& bytes);
// Nothing unless it reads as a manifest of the version `record` says is in
// place: a crash between the two writes, or a release installed without a
// manifest, leaves no list, and then no file is taken away.
std::optional<release::ReleaseManifest> LoadInstalledManifest(TInstallFileSystem& files, const TUpdateFolder& folder,
                                                              const release::InstalledRelease& record);
// After a release installed without a manifest: its files are unknown.
void ForgetInstalledManifest(TInstallFileSystem& files, const TUpdateFolder& folder);
