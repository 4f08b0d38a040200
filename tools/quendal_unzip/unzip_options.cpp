#include "unzip_options.h"

const char* const kUnzipUsage =
    "usage: quendal-unzip [-l] [-o | -n] [-j] [-q] [-P password] [-d exdir] archive [filespec ...]\n"
    "  -l  list the selected entries      -o  overwrite existing files without asking\n"
    "  -n  never overwrite existing files  -j  junk stored folders\n"
    "  -q  print only errors               -P  password of enciphered entries\n"
    "  -d  extract into exdir (default: the current folder)\n";

bool ParseUnzipOptions(const std::vector<std::string>& args, UnzipOptions& options, std::string& error) {
    std::vector<std::string> operands;
    bool flagsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (flagsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            flagsEnded = true;
            continue;
        }
        for (size_t at = 1; at < arg.size(); ++at) {
            const char flag = arg[at];
            switch (flag) {
                case 'l': options.list = true; break;
                case 'o': options.overwrite = UnzipOptions::Overwrite::Always; break;
                case 'n': options.overwrite = UnzipOptions::Overwrite::Never; break;
                case 'j': options.junkPaths = true; break;
                case 'q': options.quiet = true; break;
                case 'P':
                case 'd': {
                    std::string value;
                    if (at + 1 < arg.size()) {
                        value = arg.substr(at + 1);
                    } else if (i + 1 < args.size()) {
                        value = args[++i];
                    } else {
                        error = std::string("option -") + flag + " needs a value";
                        return false;
                    }
                    if (flag == 'P')
                        options.password = value;
                    else
                        options.extractDir = value;
                    at = arg.size();
                    break;
                }
                default: error = std::string("unknown option -") + flag; return false;
            }
        }
    }
    if (operands.empty()) {
        error = "no archive given";
        return false;
    }
    options.archive = operands.front();
    options.fileSpecs.assign(operands.begin() + 1, operands.end());
    return true;
}
