#pragma once

#include <string>
#include <string_view>

// The updater's own folder inside the program folder: no archive entry may
// write there.
inline constexpr const char* kUpdateFolderName = ".quendal-update";

namespace release {

// True for an archive entry name that is a plain relative path below the
// program folder: '/'-separated, no empty, "." or ".." segment (a single
// trailing '/' marks a folder), no backslash, no ':' (drives, streams), no
// control character, not absolute, and not inside the updater's own folder
// ".quendal-update" (any letter case), which no entry may write.
bool IsPlainEntryName(std::string_view name);

// The name in double quotes for a message or a log line, with control
// characters, quotes and backslashes written as \xNN so that a hostile name
// cannot break the line or pass for another.
std::string QuotedEntryName(std::string_view name);

}  // namespace release
