#pragma once

// Files of an updater's program folder for the tests: update archives made by
// the zip tool (by a small writer on Windows, where it cannot run), a
// stand-in for the program the updater starts, and a picture of a folder's
// contents to compare before and after a run.

#ifdef _WIN32
#include "app/core/process_helpers.h"
#include "win32/zip_writer.h"
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "support/file_bytes.h"

namespace program_folder {

namespace fs = std::filesystem;

using test_files::ReadAll;
using test_files::WriteFile;

// The archive the zip tool makes of everything under `source`, stored
// folders (empty ones too), file modes and links (as links) included.
inline std::string ZipOf(const fs::path& source, const fs::path& archive) {
#ifdef _WIN32
    return zip_writer::ZipFolder(source, archive);
#else
    const std::string command = "cd '" + source.string() + "' && zip -q -r -y '" + archive.string() + "' .";
    // 0 only when the shell ran it and it exited with 0.
    if (std::system(command.c_str()) != 0) return {};
    return ReadAll(archive);
#endif
}

// The file in which a stand-in program records its start.
inline fs::path StartRecord(const fs::path& folder) { return folder / "started.txt"; }

// A program that records, beside itself, its version, the folder it was
// started in and its arguments, one per line, and ends. Versions 1.0 and 1.1.
inline std::string StandInProgram(const std::string& version) {
#ifdef _WIN32
    return ReadAll(version == "1.0" ? QUENDAL_STANDIN_1_0 : QUENDAL_STANDIN_1_1);
#else
    return "#!/bin/sh\n"
           "here=$(dirname \"$0\")\n"
           "{ echo 'Quendal " + version + "'; pwd; for a in \"$@\"; do echo \"$a\"; done; } > \"$here/started.tmp\"\n"
           "mv \"$here/started.tmp\" \"$here/started.txt\"\n";
#endif
}

// What a stand-in recorded, once it has; empty if it did not start in time.
inline std::string AwaitStartRecord(const fs::path& folder) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(StartRecord(folder)) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
#ifdef _WIN32
    // A running program's file cannot be deleted there: the folder goes only
    // once the stand-in has ended.
    while (IsProcessRunning("Quendal.exe") && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
#endif
    return ReadAll(StartRecord(folder));
}

struct FileState {
    std::string bytes;  // empty for a folder or a link
    fs::perms mode;
    bool isFolder;
    std::string link = {};  // a symbolic link's target text
    bool operator==(const FileState&) const = default;
};

// The updater's own folder in the program folder (its log and, during a run,
// the stage, the backup and the journal).
inline constexpr const char* kUpdateFolder = ".quendal-update";

// Every file, folder and link below `folder` by relative path, with contents
// and mode (a link with its target, never followed); the updater's own
// folder is not part of the program.
inline std::map<std::string, FileState> Contents(const fs::path& folder) {
    std::map<std::string, FileState> contents;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const fs::directory_entry& entry = *it;
        if (it.depth() == 0 && entry.path().filename() == kUpdateFolder) {
            it.disable_recursion_pending();
            continue;
        }
        const std::u8string relative = entry.path().lexically_relative(folder).u8string();
        const std::string name(relative.begin(), relative.end());
        if (entry.is_symlink()) {
            contents[name] = {{}, fs::perms::none, false, fs::read_symlink(entry.path()).string()};
            continue;
        }
        const bool isFolder = entry.is_directory();
        contents[name] = {isFolder ? std::string() : ReadAll(entry.path()),
                          entry.status().permissions() & fs::perms::mask, isFolder};
    }
    return contents;
}

inline constexpr const char* kKoreanCp949 = "\xC7\xD1\xB1\xDB.txt";  // "한글.txt" as Korean Windows stores it
inline constexpr const char* kKoreanUtf8 = "한글.txt";

inline fs::path KoreanFile() { return fs::path(std::u8string(u8"한글.txt")); }

// The Korean file of an update's source folder. The zip tool stores a name's
// bytes as they are on disk, so there they are CP949; on Windows the writer
// converts the name to CP949 itself.
inline fs::path KoreanSourceFile() {
#ifdef _WIN32
    return KoreanFile();
#else
    return kKoreanCp949;
#endif
}

inline std::string Noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// An installed program: the old program and old versions of the files the
// update brings, and a file of the user's that it does not.
inline void InstallOldProgram(const fs::path& program) {
    WriteFile(program / "Quendal.exe", StandInProgram("1.0"), fs::perms(0755));
    WriteFile(program / "readme.txt", "Quendal 1.0\n");
    WriteFile(program / "data" / "sub" / "table.bin", Noise(5000, 1));
    WriteFile(program / KoreanFile(), "old\n");
    WriteFile(program / "settings.ini", "[kept]\nby=user\n");
}

// The update, made under work/update into work/Quendal.zip: a new program
// and a file for every kind of entry the zip tool makes (stored, deflated,
// nested, executable, Korean name), and an empty folder. The archive's bytes.
inline std::string MakeUpdate(const fs::path& work, bool withProgram = true) {
    const fs::path source = work / "update";
    if (withProgram) WriteFile(source / "Quendal.exe", StandInProgram("1.1"), fs::perms(0755));
    std::string notes;
    for (int line = 0; line < 3000; ++line) notes += std::to_string(line) + " Quendal 1.1 notes\n";
    WriteFile(source / "readme.txt", notes, fs::perms(0600));
    WriteFile(source / "data" / "sub" / "table.bin", Noise(300 * 1024 + 7, 2));
    WriteFile(source / "data" / "tool.sh", "#!/bin/sh\necho tool\n", fs::perms(0750));
    WriteFile(source / KoreanSourceFile(), "새 버전\n");
    fs::create_directories(source / "logs");
    return ZipOf(source, work / "Quendal.zip");
}

// What a program folder holds once the update made by MakeUpdate is in.
inline std::map<std::string, FileState> Updated(std::map<std::string, FileState> old, const fs::path& work) {
    std::map<std::string, FileState> update = Contents(work / "update");
    update.erase("logs");  // stored folders are made only for the files they hold
    if (const auto cp949 = update.find(kKoreanCp949); cp949 != update.end()) {
        update[kKoreanUtf8] = cp949->second;
        update.erase(cp949);
    }
    for (auto& [path, state] : update) old[path] = state;
    return old;
}

}  // namespace program_folder
