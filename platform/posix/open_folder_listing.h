#pragma once

#include <optional>
#include <vector>

#include "platform/folder_listing.h"

namespace platform {

// The names in the folder open as `folder`, read through a descriptor of its
// own so that the caller's stays where it was; a link is reported as one,
// never looked through.
std::optional<std::vector<FolderEntry>> ListOpenFolder(int folder);

}  // namespace platform
