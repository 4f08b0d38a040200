#pragma once

#include <cstdint>
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

}  // namespace platform
