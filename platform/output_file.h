#pragma once

#include <string>

namespace platform {

// How the output file of an extracted entry came to be.
enum class OutputKind {
    New,          // nothing stood there: the file is the entry's own
    Replacement,  // a file stands there and is kept until the replacement is whole
    InPlace,      // a device or pipe stands there: written as it is
};

struct OutputFile {
    int handle = -1;  // for reading and writing; -1 on failure, with the reason in LastError()
    OutputKind kind = OutputKind::New;
    std::string replacement;  // Replacement: the new file beside the old one
};

// Opens the output for an entry named `path`. A new file is made at once, in
// as many system calls as making it takes. An existing file is never cut
// short in place: a new file with a name of its own is made in the same
// folder, to be renamed over the old one (MoveReplacing) once it is whole. What
// could not be overwritten is refused as before: a read-only file (on POSIX,
// one without write permission), a folder, a symbolic link; on Windows also a
// hidden or system file and a file another program holds open.
OutputFile CreateOutputFile(const std::string& path);

}  // namespace platform
