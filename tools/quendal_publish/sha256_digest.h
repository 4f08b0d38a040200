#pragma once

#include <optional>
#include <string>

#include "release/release_manifest.h"

// SHA-256 of a whole file, read in blocks; nothing when it cannot be read.
std::optional<release::Sha256Digest> Sha256OfFile(const std::string& path);
