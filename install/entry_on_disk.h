#pragma once

#include <optional>
#include <string>

#include "install/install_file_system.h"
#include "platform/file_times.h"
#include "platform/sha256.h"
#include "release/release_manifest.h"

// What stands at a path, compared with the manifest entry that should be
// there, for the stage before a swap and for the installed program alike.

// True when a folder on the way from `root` (ending in the separator) to
// `path` is a symbolic link, so that `path` may lie anywhere. What `path`
// names itself is not looked at.
bool ReachedThroughLinkedFolder(const std::string& root, const std::string& path);

// A regular file's SHA-256 with the stamp it had while it was read.
struct TReadFile {
    platform::FileStamp stamp;
    platform::Sha256Digest digest{};
};

// Reads the regular file at `path`; nothing when none stands there (a link is
// not followed), it cannot be read or it changed while it was read.
std::optional<TReadFile> ReadRegularFile(TInstallFileSystem& files, const std::string& path);

// True when a symbolic link stands at `path` (to a file, a folder or nothing)
// whose target text has the entry's size and SHA-256.
bool LinkMatchesEntry(TInstallFileSystem& files, const std::string& path, const release::ManifestEntry& entry);

// True when a file of `stamp` has the mode the extractor gives `entry` on
// this system: the permission bits of an entry made on Unix where the system
// keeps Unix modes, otherwise the DOS read-only bit.
bool ModeMatchesEntry(const platform::FileStamp& stamp, const release::ManifestEntry& entry);
