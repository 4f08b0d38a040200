#pragma once

#include <string>

// Path pieces of names that use the native separator and may carry a drive
// prefix ending in ":".

// Everything up to and including the last separator or ":"; empty when none.
std::string ExtractFilePath(const std::string& path);
// Everything after the last separator or ":".
std::string ExtractFileName(const std::string& path);
// A non-empty string not ending in the separator gets one appended.
std::string IncludeTrailingSeparator(const std::string& path);
