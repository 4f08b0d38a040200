#pragma once

#include <string>
#include <vector>

class TInstallFileSystem;
struct TUpdateFolder;

// What SecureUpdateFolder found and did.
struct TUpdateFolderRepair {
    // The name beside it that the updater's folder was moved to, when it was
    // no plain folder (a link, a junction, a file); empty when left in place.
    std::string setAsideAs;
    // What was removed, each with why: names in the updater's folder that
    // were links or files with other names, and what a stopped run left.
    std::vector<std::string> removed;
    // False when something could not be put right. No update can use the
    // folder then (every file operation refuses it); the log says why when
    // it can be written.
    bool safe = true;

    bool Changed() const { return !setAsideAs.empty() || !removed.empty(); }
    // "set aside as ...; removed ...", for the log. Names are as found, so
    // anything but the log (which escapes them) must escape them to show them.
    std::string Summary() const;
};

// Run first at start, before the recovery. The updater's folder lies in a
// folder its users may write to, while the updater may run with more rights
// than they have: whatever stands there that the updater did not make is
// put out of its way without being followed.
// - The updater's folder itself, when it is not a plain folder, is renamed
//   beside it to the first free ".quendal-update.set-aside-N", never entered
//   nor deleted (it may be a user's), and a fresh folder takes its place.
// - In it, every link and every file with other names (a hard link) is
//   removed as itself: all names there are the updater's. A journal so
//   removed is replaced by one that reads as damaged, so that the recovery
//   refuses it as it refuses any damaged journal.
// - What a stopped run left is removed: the fetched entries (entries.zip)
//   and the files of the folder-write check in the program folder.
// When anything changed, one line in the log says what.
TUpdateFolderRepair SecureUpdateFolder(TInstallFileSystem& files, const TUpdateFolder& folder);
