#pragma once

#include <string>
#include <vector>

namespace platform {

// One running process as a process snapshot reports it.
struct ProcessEntry {
    int id = 0;
    std::string exeName;  // file name the process was started from, no folder
};

// Every process visible to the caller; empty when no snapshot can be taken.
std::vector<ProcessEntry> SnapshotProcesses();

// Asks the system to end a process at once; does not wait for it to exit.
bool TerminateProcess(int id);

}  // namespace platform
