#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/folder_listing.h"

namespace platform {

// What stands at a name, the name itself never followed.
enum class EntryKind {
    Missing,
    File,        // a regular file of one name
    SharedFile,  // a regular file with other names too (hard links): writing it writes them all
    Folder,
    Link,        // a symbolic link; on Windows any reparse point, a junction included
    Other,       // a device, a pipe, a socket
};

// How GuardedFolder::OpenFile treats the file at the name.
enum class FileOpening {
    Existing,          // it must be there
    CreateOrKeep,      // made when missing, its bytes kept
    CreateOrTruncate,  // made when missing, emptied otherwise
};

// A folder reached from a folder taken on trust without following a link on
// the way: every folder below the trusted one must be a real folder, never a
// symbolic link, a junction or another reparse point. While it is open, none
// of those folders can be swapped for a link under it: on POSIX every
// operation works through the folder's descriptor (the *at calls); on Windows
// each of them is held open without delete sharing, so that none can be
// renamed or removed meanwhile. The operations take one name in the folder
// and never follow it. Failures return false, -1 or nothing with the reason
// in LastError().
class GuardedFolder {
public:
    GuardedFolder() = default;
    GuardedFolder(const GuardedFolder&) = delete;
    GuardedFolder& operator=(const GuardedFolder&) = delete;
    ~GuardedFolder();

    // `trusted` is reached as the system reaches any path; `below`, relative
    // to it, is walked one folder at a time ("." and ".." refused). Either
    // may be empty.
    bool Open(const std::string& trusted, const std::string& below);

    EntryKind KindOf(const std::string& name) const;
    // A regular file only: a link, a folder or a device is refused, and for
    // writing a file with other names too. The handle is the caller's.
    int OpenFile(const std::string& name, FileAccess access, FileOpening opening) const;
    // Forces a regular file's contents out to the disk.
    bool FlushFile(const std::string& name) const;
    bool CreateFolder(const std::string& name) const;
    // A file or a link, never what the link names.
    bool RemoveFile(const std::string& name) const;
    // A folder that holds nothing; a link is refused.
    bool RemoveEmptyFolder(const std::string& name) const;
    // Whatever stands at the name: a file, a link as itself, or a folder with
    // everything in it, no link below it ever entered. True when nothing
    // stands there afterwards, also when nothing stood there.
    bool RemoveTree(const std::string& name) const;
    // Renames an entry of this folder to `newName` in `to` (this folder or
    // another), replacing a file there; a link moves as itself.
    bool Move(const std::string& name, const GuardedFolder& to, const std::string& newName) const;
    std::optional<std::vector<FolderEntry>> List() const;
    // Forces the folder's list of names out to the disk (Windows keeps it in
    // its file-system journal: nothing to do there).
    bool Flush() const;

    // Folders nested deeper than this below a removed tree are not entered:
    // no release has them, and a planted one must not exhaust the process.
    static constexpr int kMaxTreeDepth = 256;

private:
    void Close();
#ifdef _WIN32
    std::string path_;         // ends in the separator unless empty
    std::vector<void*> held_;  // a handle on each folder walked below the trusted one
#else
    int folder_ = -1;
#endif
};

// True for a name of one part: not empty, not "." or "..", no separator.
bool IsSinglePart(const std::string& name);

}  // namespace platform
