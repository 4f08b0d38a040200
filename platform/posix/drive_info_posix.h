#pragma once

#include <string>

namespace platform {

// Names under /dev/disk/by-label escape special bytes as "\xHH" (a blank is
// "\x20"); this gives the label back.
std::string DecodeDeviceLabel(const std::string& linkName);

}  // namespace platform
