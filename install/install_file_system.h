#pragma once

#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_times.h"
#include "platform/folder_listing.h"
#include "platform/guarded_folder.h"
#include "platform/sha256.h"

// The file operations of an install, in one place so that a test can make any
// of them fail (or stop the run where a crash would) without touching the
// disk itself. The default forwards to the platform layer. Failures return
// false with the system's error code in LastError().
//
// The updater runs with rights the users of the program folder may lack, in
// a folder they can write to, so no operation follows a link planted there:
// the last part of a path is never followed (a read, a write or a listing
// refuses a link; a removal or a rename takes the link itself), and from the
// updater's own folder (kUpdateFolderName) down every folder on the way must
// be a real one, walked so that it cannot be swapped for a link meanwhile.
// The folders above it are the program folder's, taken as the system gives
// them. A write refuses a file that has other names (a hard link) too.
class TInstallFileSystem {
public:
    virtual ~TInstallFileSystem() = default;

    virtual bool Move(const std::string& from, const std::string& to);
    virtual bool FlushFile(const std::string& path);
    virtual bool FlushFolder(const std::string& folder);
    // Creates or truncates the file and writes all of `bytes`.
    virtual bool WriteFile(const std::string& path, const std::string& bytes);
    virtual bool AppendFile(const std::string& path, const std::string& bytes);
    // The whole file; nothing when it cannot be read or holds more than
    // `maxBytes`, so that a damaged or planted file cannot exhaust memory.
    virtual std::optional<std::string> ReadFile(const std::string& path, size_t maxBytes);
    virtual bool CreateFolder(const std::string& folder);
    // A file or a link.
    virtual bool RemoveFile(const std::string& path);
    virtual bool RemoveEmptyFolder(const std::string& folder);
    // Whatever stands at the path: a file, a link as itself, or a folder with
    // everything in it, no link inside ever entered. True when nothing stands
    // there afterwards, also when nothing stood there.
    virtual bool RemoveTree(const std::string& path);
    virtual std::optional<std::vector<platform::FolderEntry>> ListFolder(const std::string& folder);
    // What stands at the path; Missing also where a folder on the way to it
    // is a link.
    virtual platform::EntryKind KindOf(const std::string& path);
    // Anything but a folder (a link to one included).
    virtual bool FileExists(const std::string& path);
    // Anything at the path, a link that leads nowhere included.
    virtual bool EntryExists(const std::string& path);
    // A real folder, not a link to one.
    virtual bool FolderExists(const std::string& path);
    // Of a regular file only; a link is not followed.
    virtual std::optional<platform::FileStamp> Stamp(const std::string& path);
    virtual std::optional<platform::Sha256Digest> Sha256(const std::string& path);
    virtual bool CanOpenForDeletion(const std::string& path);
    virtual bool SetHidden(const std::string& path);
    virtual int64_t FreeSpace(const std::string& path);
    virtual void Sleep(uint32_t milliseconds);
    virtual int LastError();
    // Every file below the folder on the disk.
    virtual bool FlushTree(const std::string& folder);

    // Puts `bytes` at `path` in `folder` (made when missing) so that a crash
    // leaves the old file or the new one whole: a new file beside it, flushed,
    // renamed over it, and the folder flushed.
    bool ReplaceFileWhole(const std::string& folder, const std::string& path, const std::string& bytes);

    // The target text of the symbolic link at `path`, never followed; nothing
    // when no link stands there.
    virtual std::optional<std::string> LinkTarget(const std::string& path);
};
