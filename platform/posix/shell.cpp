#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace platform {

bool ShellOpen(const std::string& path) {
    // An intermediate child starts the program and exits at once, so the
    // program is never our child: nobody has to wait for it.
    pid_t middle = ::fork();
    if (middle < 0) return false;
    if (middle == 0) {
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        pid_t program = 0;
        int rc = posix_spawn(&program, path.c_str(), nullptr, &attr, argv, environ);
        ::_exit(rc == 0 ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RestartElevated(const std::string& /*arguments*/) { return false; }

}  // namespace platform
