#pragma once

#include <string>

namespace platform {

// The separator of native paths; rules that speak of "\" use this.
inline constexpr char kPathSeparator = '/';

bool FileExists(const std::string& path);       // exists and is not a folder
bool DirectoryExists(const std::string& path);

// Creates one folder level; the parent must exist. False with LastError() set on failure.
bool CreateDir(const std::string& path);
bool RemoveFile(const std::string& path);

// The process's current directory, ending in the path separator; empty when
// it cannot be read.
std::string CurrentDirectory();

// The folder of the running executable, ending in the path separator.
std::string ProgramFolder();

}  // namespace platform
