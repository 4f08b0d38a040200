#pragma once

#include <string>

namespace platform {

// Starts a program file as a detached process in a session of its own and
// returns at once; true when the program could be started.
bool ShellOpen(const std::string& path);

}  // namespace platform
