#pragma once

#include <cstdint>
#include <string>

namespace platform {

// What an all-or-nothing install needs of the file system beyond plain file
// access and GuardedFolder: renames that replace, the free space of a volume,
// and whether another process holds a file. Failures return false (or -1)
// with the reason in LastError().

// Renames a file on one volume, replacing a file standing at `to`.
bool MoveReplacing(const std::string& from, const std::string& to);

// Bytes the caller may still write on the volume holding `path`; -1 when unknown.
int64_t FreeSpaceOf(const std::string& path);

// True when the file could be renamed or deleted now: no other process holds
// it open without delete sharing. POSIX has no such holds.
bool CanOpenForDeletion(const std::string& path);

// Hides a folder from the file manager. POSIX hides names that begin with a
// dot already, so there it only checks that the path exists.
bool SetHiddenAttribute(const std::string& path);

}  // namespace platform
