#pragma once

#include <string>

// The updater's two steps that reach outside the program: stopping the
// companion process and leaving the cancel flag for the main application.
// Process names compare with ASCII letters upper-cased, all else exact.

bool IsProcessRunning(const std::string& exeName);

// Terminates every process of that name; true if the last attempt succeeded,
// false if none was attempted. Does not wait for the processes to exit.
bool KillProcessByName(const std::string& exeName);

// Writes Key=Value into [Section] of the flag file named by fileName in the
// program folder (see FlagFilePath); true if the write was done.
bool WriteIniValue(const std::string& fileName, const std::string& section,
                   const std::string& key, const std::string& value);

// The flag file's path: an empty name is "vkr.dat", a bare name is placed in
// programFolder, a name with a folder part is taken as it stands; ".dat" is
// appended unless the path already ends in a three-character extension.
std::string FlagFilePath(const std::string& fileName, const std::string& programFolder);
