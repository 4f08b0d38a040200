#include "platform/command_line.h"

namespace platform {

// The arguments and the terminal already speak UTF-8 here.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

void UseUtf8Console() {}

}  // namespace platform
