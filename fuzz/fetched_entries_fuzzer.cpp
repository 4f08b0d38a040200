// The bytes a server sent for the changed entries of a release, made an
// archive of their own and extracted as the updater does. Whatever the bytes,
// either they are refused and the file is left as it was, or every file that
// comes out bears a name the manifest gives: a server cannot place a file the
// manifest does not list.
//
// Input: the manifest's entries, a line each ("name size crc32-hex length"),
// then a NUL and the fetched bytes, the entries' extents one after the other.

#include "archive/unzip.h"
#include "fuzz_support.h"
#include "release/fetched_entries_archive.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The manifest the input's lines describe, with each entry placed after the one before.
release::ReleaseManifest ManifestOf(const std::string& lines, std::vector<release::TFetchedEntry>& placed) {
    release::ReleaseManifest manifest{"Quendal", *release::ReleaseVersion::Parse("1.0"),
                                      release::UtcTime::FromUnixSeconds(0), release::UtcTime::FromUnixSeconds(0), {}, {}};
    std::istringstream in(lines);
    uint64_t position = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        release::ManifestEntry entry;
        std::string crc;
        if (!(fields >> entry.name >> entry.size >> crc >> entry.length) || crc.size() > 8) continue;
        entry.crc32 = static_cast<uint32_t>(std::strtoul(crc.c_str(), nullptr, 16));
        entry.offset = position;
        placed.push_back({manifest.entries.size(), position});
        position += entry.length;
        manifest.entries.push_back(entry);
    }
    manifest.archive.length = position;
    return manifest;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::LimitFileSize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    if (split == std::string::npos) return 0;
    std::vector<release::TFetchedEntry> placed;
    const release::ReleaseManifest manifest = ManifestOf(input.substr(0, split), placed);
    const std::string fetched = input.substr(split + 1);

    const TempFolder scratch("quendal-fuzz-fetched");
    const fs::path file = scratch / "entries.zip";
    const fs::path target = scratch / "stage";
    fuzz_support::WriteWhole(file, reinterpret_cast<const uint8_t*>(fetched.data()), fetched.size());
    if (!release::CompleteFetchedEntriesArchive(file.string(), manifest, placed).empty()) {
        if (fuzz_support::ReadWhole(file) != fetched) {
            std::fprintf(stderr, "refused bytes were changed\n");
            std::abort();
        }
        return 0;
    }

    fs::create_directory(target);
    TUnZip unzip;
    unzip.SetFileSpec({"*.*"});
    unzip.SetOverwriteMode(omOverwrite);
    unzip.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int32_t) {};
    unzip.SetArchiveFile(file.string());
    unzip.SetExtractDir(target.string() + "/");
    unzip.ExtractFiles();

    std::set<std::string> listed;
    for (const release::ManifestEntry& entry : manifest.entries) listed.insert(entry.name);
    for (auto it = fs::recursive_directory_iterator(target); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = fs::relative(it->path(), target).generic_string();
        if (!it->is_directory() && !listed.contains(name)) {
            std::fprintf(stderr, "extracted under a name the manifest does not give: %s\n", name.c_str());
            std::abort();
        }
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path())) {
        if (entry.path() != file && entry.path() != target) {
            std::fprintf(stderr, "written outside the stage: %s\n", entry.path().c_str());
            std::abort();
        }
    }
    return 0;
}
