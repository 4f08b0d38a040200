#pragma once

#include <string>

namespace platform {

// The separator of native paths; rules that speak of "\" use this.
// Every character that separates folders in a path a user gives: Windows
// takes "/" as well as its own "\\".
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
#endif

bool FileExists(const std::string& path);       // exists and is not a folder
bool DirectoryExists(const std::string& path);

// Creates one folder level; the parent must exist. False with LastError() set on failure.
bool CreateDir(const std::string& path);
bool RemoveFile(const std::string& path);

// Whether files can be made in `folder`: a file whose name begins with
// kWriteCheckPrefix is made there and removed at once. False for a folder
// that is missing, read-only, on a read-only volume, or that needs rights the
// process lacks.
bool FolderWritable(const std::string& folder);
// A run killed during the check can leave its file behind under this prefix.
inline constexpr const char* kWriteCheckPrefix = ".quendal-write-check-";

// The process's current directory, ending in the path separator; empty when
// it cannot be read.
std::string CurrentDirectory();

// True for a path that names its place without the current folder: "/x" on
// POSIX; "C:\x", "C:/x", "\x" or "\\server\share" on Windows.
bool IsAbsolutePath(const std::string& path);

// The folder of the running executable, ending in the path separator.
std::string ProgramFolder();

// An archive entry name made fit for this system's file names. On Windows a
// ":" after a leading drive prefix would name an alternate data stream of the
// file, so it becomes "_"; a part that would open a device (see NamesADevice)
// gets a "_" in front; and a part of dots and spaces only, other than ".",
// which Windows may take for the parent folder, becomes ".." so that the name
// is refused as one that climbs. Elsewhere every name is kept as it is.
std::string NativeEntryName(const std::string& name);

// True when some part of the entry name `name` would open a device instead of
// a file: on Windows CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9 (also with
// the superscript digits 1 to 3), CONIN$ and CONOUT$, in any letter case,
// with any extension and with trailing spaces or dots. Never elsewhere.
bool NamesADevice(const std::string& name);

}  // namespace platform
