#pragma once

#include <optional>
#include <string>
#include <vector>

#include "release/release_manifest.h"

// Reads an update archive whole for its manifest: lists its entries with
// TUnZip, extracts every one into a temporary folder (so each is decoded and
// its CRC checked), hashes what came out and finds each entry's bytes in the
// archive. Folder entries carry no data and are not listed. Nothing, with the
// reason in error, for an archive that is not read whole; the temporary
// folder is gone either way.
std::optional<std::vector<release::ManifestEntry>> SurveyArchive(const std::string& archivePath, std::string& error);
