#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line: quendal-unzip [-l] [-o | -n] [-j] [-q] [-P password]
// [-d exdir] archive [filespec ...]
struct UnzipOptions {
    enum class Overwrite { Ask, Always, Never };

    bool list = false;
    Overwrite overwrite = Overwrite::Ask;
    bool junkPaths = false;
    bool quiet = false;
    std::optional<std::string> password;  // -P, possibly empty
    std::string extractDir;               // -d; empty: the current folder
    std::string archive;
    std::vector<std::string> fileSpecs;
};

// Parses the arguments after the program name. Flags may be bundled ("-oq")
// and a value may follow its flag directly ("-dout") or as the next argument.
// False with `error` set for a malformed line.
bool ParseUnzipOptions(const std::vector<std::string>& args, UnzipOptions& options, std::string& error);

extern const char* const kUnzipUsage;
