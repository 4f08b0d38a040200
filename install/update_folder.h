#pragma once

#include <algorithm>
#include <string>

#include "platform/file_system.h"
#include "release/entry_name.h"

// The places an install uses, all on the program folder's volume so that
// moving between them is a rename.
struct TUpdateFolder {
    std::string program;  // ends in the path separator

    std::string Root() const { return program + kUpdateFolderName + platform::kPathSeparator; }
    std::string Stage() const { return Root() + "stage" + platform::kPathSeparator; }
    std::string Backup() const { return Root() + "backup" + platform::kPathSeparator; }
    std::string Journal() const { return Root() + "journal"; }
    std::string Log() const { return Root() + "update.log"; }
    std::string State() const { return Root() + "state.ini"; }
    std::string Hashes() const { return Root() + "hashes"; }
    std::string InstalledManifest() const { return Root() + "manifest"; }
    std::string FetchedEntries() const { return Root() + "entries.zip"; }
};

// A '/'-separated path below the program folder in the system's own form.
inline std::string NativeRelativePath(const std::string& relative) {
    std::string native = relative;
    std::replace(native.begin(), native.end(), '/', platform::kPathSeparator);
    return native;
}
