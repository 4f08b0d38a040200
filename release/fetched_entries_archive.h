#pragma once

#include <string>
#include <vector>

#include "release/differential_plan.h"
#include "release/release_manifest.h"

namespace release {

// Makes the file the plan's ranges were fetched into, one after the other, a
// ZIP archive of just the changed entries: appends a central directory naming
// each entry at its position, and the end record. Each entry's bytes are
// checked against the manifest first: a local header signature at its
// position, its name, its CRC-32 (from the header, or from its data descriptor
// when flag bit 3 is set), and its extent (header + name + extra + compressed
// data + descriptor) equal to the manifest's length. Anything else means the
// server sent other bytes than asked for. A value the directory cannot hold
// in 32 bits is refused too: the whole archive is then the way, and so is an
// empty list (there is nothing to complete). Returns the
// error (English, naming the entry), empty on success.
std::string CompleteFetchedEntriesArchive(const std::string& path, const ReleaseManifest& manifest,
                                          const std::vector<TFetchedEntry>& entries);

}  // namespace release
