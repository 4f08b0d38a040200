#include <cstdio>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "unzip_options.h"
#include "unzip_session.h"

int main(int argc, char** argv) {
    platform::UseUtf8Console();
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    UnzipOptions options;
    std::string error;
    if (!ParseUnzipOptions(args, options, error)) {
        std::fprintf(stderr, "quendal-unzip: %s\n%s", error.c_str(), kUnzipUsage);
        return 10;  // the usual unzip tool's status for an invalid command line
    }
    return UnzipSession(std::move(options)).Run();
}
