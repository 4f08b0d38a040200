#pragma once

// Files of an updater's program folder for the tests: update archives made by
// the zip tool, a stand-in for the program the updater starts, and a picture
// of a folder's contents to compare before and after a run.

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>

namespace program_folder {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const fs::path& path, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    fs::permissions(path, mode);
}

// The archive the zip tool makes of everything under `source`, stored
// folders (empty ones too) and file modes included.
inline std::string ZipOf(const fs::path& source, const fs::path& archive) {
    const std::string command = "cd '" + source.string() + "' && zip -q -r '" + archive.string() + "' .";
    const int status = std::system(command.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return ReadAll(archive);
}

// The file in which a stand-in program records its start.
inline fs::path StartRecord(const fs::path& folder) { return folder / "started.txt"; }

// A program that records, beside itself, its version, the folder it was
// started in and its arguments, one per line, and ends.
inline std::string StandInProgram(const std::string& version) {
    return "#!/bin/sh\n"
           "here=$(dirname \"$0\")\n"
           "{ echo 'Quendal " + version + "'; pwd; for a in \"$@\"; do echo \"$a\"; done; } > \"$here/started.tmp\"\n"
           "mv \"$here/started.tmp\" \"$here/started.txt\"\n";
}

// What a stand-in recorded, once it has; empty if it did not start in time.
inline std::string AwaitStartRecord(const fs::path& folder) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(StartRecord(folder)) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ReadAll(StartRecord(folder));
}

struct FileState {
    std::string bytes;  // empty for a folder
    fs::perms mode;
    bool isFolder;
    bool operator==(const FileState&) const = default;
};

// Every file and folder below `folder` by relative path, with contents and mode.
inline std::map<std::string, FileState> Contents(const fs::path& folder) {
    std::map<std::string, FileState> contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const bool isFolder = entry.is_directory();
        contents[fs::relative(entry.path(), folder).string()] = {
            isFolder ? std::string() : ReadAll(entry.path()), entry.status().permissions() & fs::perms::mask,
            isFolder};
    }
    return contents;
}

}  // namespace program_folder
