#pragma once

#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_times.h"
#include "platform/folder_listing.h"
#include "platform/sha256.h"

// The file operations of an install, in one place so that a test can make any
// of them fail (or stop the run where a crash would) without touching the
// disk itself. The default forwards to the platform layer. Failures return
// false with the system's error code in LastError().
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
    virtual bool RemoveFile(const std::string& path);
    virtual bool RemoveEmptyFolder(const std::string& folder);
    virtual std::optional<std::vector<platform::FolderEntry>> ListFolder(const std::string& folder);
    virtual bool FileExists(const std::string& path);
    // Anything at the path, a link that leads nowhere included.
    virtual bool EntryExists(const std::string& path);
    virtual bool FolderExists(const std::string& path);
    // Of a regular file only; a link is not followed.
    virtual std::optional<platform::FileStamp> Stamp(const std::string& path);
    virtual std::optional<platform::Sha256Digest> Sha256(const std::string& path);
    virtual bool CanOpenForDeletion(const std::string& path);
    virtual bool SetHidden(const std::string& path);
    virtual int64_t FreeSpace(const std::string& path);
    virtual void Sleep(uint32_t milliseconds);
    virtual int LastError();

    // Puts `bytes` at `path` in `folder` (made when missing) so that a crash
    // leaves the old file or the new one whole: a new file beside it, flushed,
    // renamed over it, and the folder flushed.
    bool ReplaceFileWhole(const std::string& folder, const std::string& path, const std::string& bytes);

    // The target text of the symbolic link at `path`, never followed; nothing
    // when no link stands there.
    virtual std::optional<std::string> LinkTarget(const std::string& path);
};
