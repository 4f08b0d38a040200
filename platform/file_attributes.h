#pragma once

#include <cstdint>
#include <string>

namespace platform {

// DOS attribute bits as archives store them in the low byte.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kAttrNormal = 0x80;

// The attributes of a file or folder: directory, read-only when no write
// permission is set, archive for other files. -1 when the path cannot be read.
int64_t GetFileAttributes(const std::string& path);

// Applies stored attributes. When the high 16 bits hold a Unix regular-file
// or directory mode, its permission bits (0777) are applied; otherwise the
// read-only bit removes or restores the write permissions.
bool SetFileAttributes(const std::string& path, uint32_t attributes);

}  // namespace platform
