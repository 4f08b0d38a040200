#pragma once

// Archives made once by independent tools (zip, 7zz, tar, Python's zipfile),
// kept in tests/fixtures/tool-made/ so that every build reads the same bytes;
// that folder's README.md says how each was made.

#include <filesystem>
#include <string>

inline std::string ToolMade(const std::string& name) { return QUENDAL_TEST_FIXTURES "/tool-made/" + name; }

// Copies a made archive (or a folder of volumes) into a test's folder, where
// the test may change, rename or delete it.
// A folder's files go into the destination folder.
inline void CopyToolMade(const std::string& name, const std::string& destination) {
    namespace fs = std::filesystem;
    constexpr auto overwrite = fs::copy_options::overwrite_existing;
    const fs::path made = ToolMade(name);
    if (!fs::is_directory(made)) {
        fs::copy_file(made, destination, overwrite);
        return;
    }
    for (const fs::directory_entry& file : fs::directory_iterator(made))
        fs::copy_file(file.path(), fs::path(destination) / file.path().filename(), overwrite);
}
