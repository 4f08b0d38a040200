#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Raw file handles for callers that keep the handle themselves (the archive
// streams). Failures return -1 or false and leave the reason in LastError();
// nothing here throws.

enum class FileAccess { Read, Write, ReadWrite };

// What other openers of the same file may do meanwhile. POSIX cannot enforce
// sharing between processes, so the request is accepted as given.
enum class FileShare { Exclusive, DenyWrite, DenyRead, DenyNone };

int OpenFileHandle(const std::string& path, FileAccess access, FileShare share);

// Creates the file or truncates it, for reading and writing. A file without
// write permission is refused, as a read-only file is.
int CreateFileHandle(const std::string& path);

bool CloseFileHandle(int handle);

// Bytes moved, 0 at the end of the file, -1 on failure. A write that the
// system stops short returns what it wrote, with the reason in LastError().
int64_t ReadFileHandle(int handle, void* buffer, size_t count);
int64_t WriteFileHandle(int handle, const void* buffer, size_t count);

enum class SeekOrigin { Begin, Current, End };
int64_t SeekFileHandle(int handle, int64_t offset, SeekOrigin origin);  // new position or -1

// Cuts or extends the file to end at the current position.
bool SetEndOfFileHandle(int handle);

int64_t FileHandleSize(int handle);  // -1 on failure
bool SetFileHandleSize(int handle, int64_t size);

// True for the system's "no space left on the device" error code.
bool IsDiskFullError(int errorCode);
// True for the system's codes for a file or folder that is not there.
bool IsNotFoundError(int errorCode);

}  // namespace platform
