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

// What tells whether a regular file changed without reading it. An ordinary
// write moves its size and write time, but anyone may set the write time
// back, and the extractor sets it to an entry's date, so that two releases of
// fixed dates may leave two contents of one size under one write time. The
// stamp therefore also holds what the system keeps itself: the time of the
// file's last change of any kind (bytes, name, mode or times), and the file's
// identity on its volume, which a file written anew and renamed into place
// does not share with the one it replaced.
struct FileStamp {
    uint64_t size = 0;
    int64_t writeTimeNs = 0;   // since 1970-01-01 00:00:00 UTC, at the file system's own resolution
    int64_t changeTimeNs = 0;  // as writeTimeNs: the inode's change time (POSIX), ChangeTime (Windows)
    uint64_t volume = 0;       // the device (POSIX), the volume serial number (Windows)
    uint64_t fileId = 0;       // the inode number (POSIX), the file index (Windows)
    // As archives store them: the DOS read-only bit (0x01, on POSIX set when
    // no write permission is), and on POSIX the file's mode in the high 16 bits.
    uint32_t attributes = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of a regular file; nothing for a folder, a symbolic link (a
// reparse point on Windows), a device, or a path that cannot be looked at.
// A link is never followed.
std::optional<FileStamp> StampOf(const std::string& path);

// The system clock, counted as FileStamp's times count.
int64_t CurrentFileTimeNs();

}  // namespace platform
