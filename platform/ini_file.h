#pragma once

#include <string>

namespace platform {

// Sets Key=Value in [Section] of an INI file, the way Windows profile writes
// do: section and key are matched without regard to ASCII case; the file, the
// section and the key are created when missing; every other line is kept byte
// for byte; a read-only file (no write permission) is refused. The new
// content replaces the file atomically (temporary + rename).
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

}  // namespace platform
