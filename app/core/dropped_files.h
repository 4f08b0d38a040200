#pragma once

#include <set>
#include <string>

#include "install/installed_file_hashes.h"
#include "release/release_manifest.h"

// The files of the installed release that the offered one no longer has and
// that are still exactly as installed ("/"-separated names): the install
// takes them away, so that a removed plug-in or library cannot be loaded by
// the new program. A file the user changed stays, and so does a name the new
// release still has in any letter case (the same file on Windows).
std::set<std::string> DroppedFiles(TInstalledFileHashes& installedFiles, const release::ReleaseManifest& installed,
                                   const release::ReleaseManifest& offered);
