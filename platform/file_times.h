#pragma once

#include <string>

#include "platform/local_time.h"

namespace platform {

// Sets the last-write time of an open file, given as local time.
bool SetFileWriteTime(int handle, const LocalDateTime& time);

// The creation time of a file as local time (the last status change where
// the file system keeps no birth time). False when it cannot be read.
bool GetFileCreationTime(const std::string& path, LocalDateTime& time);

}  // namespace platform
