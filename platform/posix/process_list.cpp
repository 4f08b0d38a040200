#include "platform/process_list.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <fstream>
#include <iterator>

namespace platform {
namespace {

std::string BaseName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The executable's file name: the target of /proc/<pid>/exe, else argv[0],
// else the kernel's short command name (kernel threads have only that).
std::string ExecutableName(const std::string& procDir) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink((procDir + "/exe").c_str(), buffer, sizeof buffer - 1);
    if (n > 0) {
        std::string target(buffer, static_cast<size_t>(n));
        static const std::string kDeleted = " (deleted)";
        if (target.size() > kDeleted.size() &&
            target.compare(target.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
            target.resize(target.size() - kDeleted.size());
        return BaseName(target);
    }
    std::ifstream cmdline(procDir + "/cmdline", std::ios::binary);
    std::string argv0;
    if (std::getline(cmdline, argv0, '\0') && !argv0.empty()) return BaseName(argv0);
    std::ifstream comm(procDir + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace

std::vector<ProcessEntry> SnapshotProcesses() {
    std::vector<ProcessEntry> entries;
    DIR* proc = ::opendir("/proc");
    if (!proc) return entries;
    while (dirent* entry = ::readdir(proc)) {
        const char* name = entry->d_name;
        if (!std::isdigit(static_cast<unsigned char>(name[0]))) continue;
        std::string procDir = std::string("/proc/") + name;
        std::string exeName = ExecutableName(procDir);
        if (!exeName.empty()) entries.push_back({std::stoi(name), exeName});
    }
    ::closedir(proc);
    return entries;
}

bool TerminateProcess(int id) { return id > 0 && ::kill(id, SIGKILL) == 0; }

}  // namespace platform
