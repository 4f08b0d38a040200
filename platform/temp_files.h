#pragma once

#include <string>

namespace platform {

// The system's folder for temporary files, ending in the path separator.
std::string TempFolder();

// Creates a new empty file with a unique name made of prefix and a few
// characters in folder, and returns its full name; empty on failure.
std::string CreateTempFile(const std::string& folder, const std::string& prefix);

}  // namespace platform
