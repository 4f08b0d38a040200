#pragma once

#include <cstddef>
#include <string>

// Path pieces of names that use the native separator and may start with a
// drive prefix (a letter and ":"). Any other ":" is part of a name.

// Everything up to and including the last separator or the drive prefix;
// empty when none.
std::string ExtractFilePath(const std::string& path);
// Everything after the last separator or the drive prefix.
std::string ExtractFileName(const std::string& path);
// A non-empty string not ending in the separator gets one appended.
std::string IncludeTrailingSeparator(const std::string& path);
// The length of what roots a name: a leading drive prefix with the
// separators after it, or the leading separators of an absolute or server
// name. 0 for a relative name.
size_t RootPrefixLength(const std::string& name);
