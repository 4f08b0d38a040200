#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/local_time.h"

namespace platform {

// Sets the last-write time of an open file, given as local time.
bool SetFileWriteTime(int handle, const LocalDateTime& time);

// A moment in UTC, as archives made on Unix and NTFS store it.
struct UtcFileTime {
    int64_t seconds = 0;  // since 1970-01-01 00:00:00 UTC
    uint32_t nanoseconds = 0;
};

// Sets the last-write time of an open file.
bool SetFileWriteTimeUtc(int handle, const UtcFileTime& time);

// Sets the last-write time of a folder or a link by its path; a final
// symbolic link is stamped itself, never followed.
bool SetPathWriteTimeUtc(const std::string& path, const UtcFileTime& time);

// Sets the last-write time of a folder or a link by its path, given as local
// time; a final symbolic link is stamped itself, never followed.
bool SetPathWriteTime(const std::string& path, const LocalDateTime& time);

// The creation time of a file as local time (the last status change where
// the file system keeps no birth time). False when it cannot be read.
bool GetFileCreationTime(const std::string& path, LocalDateTime& time);

// What tells whether a file changed without reading it: its size and
// last-write time.
struct FileStamp {
    uint64_t size = 0;
    int64_t writeTimeNs = 0;  // since 1970-01-01 00:00:00 UTC, at the file system's own resolution
    bool operator==(const FileStamp&) const = default;
};

// The stamp of a regular file; nothing for a folder, a symbolic link (a
// reparse point on Windows), a device, or a path that cannot be looked at.
// A link is never followed.
std::optional<FileStamp> StampOf(const std::string& path);

// The system clock, counted as FileStamp::writeTimeNs counts.
int64_t CurrentFileTimeNs();

}  // namespace platform
