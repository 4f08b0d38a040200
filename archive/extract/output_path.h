#pragma once

#include <string>

// Where an entry is written: the path built from its stored name under the
// target folder, the checks that keep it inside that folder, and the check of
// a symbolic link's target. Every decision about an output path is made here.

// The folder put in front of every entry's name: the target folder with its
// trailing separator, rooted when it was given relative.
std::string OutputRoot(const std::string& extractDir);

// The output path of the entry `name` below `extractDir`: the name in the
// native form, stored folders kept when `useStoredDirs` (a leading drive
// prefix and root separators dropped), else only its last part. Empty for an
// empty name.
std::string EntryOutputPath(const std::string& extractDir, const std::string& name, bool useStoredDirs);

// The path lies below OutputRoot(extractDir) and no part of it after that
// root is "..".
bool OutputPathStaysInside(const std::string& extractDir, const std::string& path);

// A link target that is relative and, resolved by its names from the link's
// folder `linkFolder` (below `root`, free of links and made), never leaves
// `root`. On the disk as it stands, no part the target passes through may be
// a link (its last part may: links lead to links), and a part it climbs out
// of, "a" in "a/..", must be a real folder: were it missing, a later entry
// could make it a link ("a -> .") and the climb would go where the names do
// not say.
bool LinkTargetStaysInside(const std::string& root, const std::string& linkFolder, const std::string& target);

// Whether writing along an output path could pass through a symbolic link
// below the target folder, remembering the folder last found free of links:
// entries come grouped by folder, so that folder is only looked at again for
// its last part.
class LinkFreeFolders {
public:
    // No part of `path` after `root` is a link; `lastPartToo` false leaves
    // the last part out (a link entry replaces a link at its own name).
    bool FollowsNoLink(const std::string& root, const std::string& path, bool lastPartToo = true);
    // Forgets what was found, once a link has been made or a run begins.
    void Forget() { checkedFolder_.clear(); }

private:
    std::string checkedFolder_;
};
