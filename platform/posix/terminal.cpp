#include "platform/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace platform {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void NoteInterrupt(int) { interrupted = 1; }

int DescriptorOf(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input: return STDIN_FILENO;
        case StandardStream::Output: return STDOUT_FILENO;
        default: return STDERR_FILENO;
    }
}

}  // namespace

bool IsTerminal(StandardStream stream) { return ::isatty(DescriptorOf(stream)) == 1; }

int TerminalColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool ReadTerminalLine(const std::string& prompt, bool echo, std::string& line) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) return false;
    (void)!::write(tty, prompt.data(), prompt.size());

    struct termios saved {};
    const bool haveSettings = ::tcgetattr(tty, &saved) == 0;
    if (!echo && haveSettings) {
        struct termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(tty, TCSANOW, &quiet);
    }
    line.clear();
    bool gotLine = false;
    char c;
    for (;;) {
        const ssize_t n = ::read(tty, &c, 1);
        if (n <= 0) break;
        if (c == '\n') {
            gotLine = true;
            break;
        }
        if (c != '\r') line += c;
    }
    if (!echo && haveSettings) ::tcsetattr(tty, TCSANOW, &saved);
    ::close(tty);
    return gotLine || !line.empty();
}

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() { return interrupted != 0; }

}  // namespace platform
