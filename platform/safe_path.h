#pragma once

#include <optional>
#include <string>

namespace platform {

// Creates a folder with all its missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& folder);

// True when some part of `path` after the folder `root` exists as a symbolic
// link, so that writing along `path` could land outside `root`. A path that
// does not start with `root` is not looked at.
bool PathHasLinkBelow(const std::string& root, const std::string& path);

// Makes a symbolic link at `linkPath` holding `target` (on Windows with "/"
// made "\", the only separator links follow there). False when something
// stands there already or links cannot be made.
bool CreateSymbolicLink(const std::string& target, const std::string& linkPath);

// The target text of the symbolic link at `path` (on Windows, of a symbolic
// link or junction, with "\" made "/"); nothing when no link stands there.
// What the link names is never looked at.
std::optional<std::string> ReadSymbolicLink(const std::string& path);

}  // namespace platform
