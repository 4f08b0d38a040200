#pragma once

#include <string>

namespace platform {

// Puts every file below `folder` on the disk, so that renaming them later
// cannot leave names whose bytes a power cut lost. Links are not followed.
bool FlushTreeToDisk(const std::string& folder);

}  // namespace platform
