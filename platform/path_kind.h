#pragma once

#include <string>

namespace platform {

// What stands at a path, the path's last part never followed: a link (on
// Windows any reparse point, a junction included) is a link whatever it names.
enum class PathKind { Missing, File, Folder, Link, Other };
PathKind KindOf(const std::string& path);

// Puts every file below `folder` on the disk, so that renaming them later
// cannot leave names whose bytes a power cut lost. Links are not followed.
bool FlushTreeToDisk(const std::string& folder);

}  // namespace platform
