#pragma once

// Whole files as bytes, for tests that set up and look at folders.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace test_files {

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Makes the file's folders first; the mode is the file's permissions.
inline void WriteFile(const std::filesystem::path& path, const std::string& bytes,
                      std::filesystem::perms mode = std::filesystem::perms(0644)) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    std::filesystem::permissions(path, mode);
}

}  // namespace test_files
