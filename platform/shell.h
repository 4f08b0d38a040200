#pragma once

#include <string>

namespace platform {

// Starts a program file as a detached process in a session of its own and
// returns at once; true when the program could be started.
bool ShellOpen(const std::string& path);

// Starts this program once more with administrator rights and `arguments`,
// and returns at once; false when the user declined, or where the system
// has no such request (POSIX).
bool RestartElevated(const std::string& arguments);

}  // namespace platform
