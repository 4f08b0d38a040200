#include <cstdio>
#include <string>
#include <vector>

#include "unzip_options.h"
#include "unzip_session.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    UnzipOptions options;
    std::string error;
    if (!ParseUnzipOptions(args, options, error)) {
        std::fprintf(stderr, "quendal-unzip: %s\n%s", error.c_str(), kUnzipUsage);
        return 10;  // the usual unzip tool's status for an invalid command line
    }
    return UnzipSession(std::move(options)).Run();
}
