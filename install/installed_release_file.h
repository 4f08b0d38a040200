#pragma once

#include "install/install_file_system.h"
#include "install/update_folder.h"
#include "release/installed_release.h"

// The installed-release record in the updater's folder. Missing, unreadable
// or garbled, it reads as knowing nothing.
release::InstalledRelease LoadInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder);

// Written as the journal is: a new file, flushed, renamed over the old one,
// and the folder flushed, so that a crash leaves either record whole.
bool SaveInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder,
                          const release::InstalledRelease& record);
