#pragma once

#include "support/temp_folder.h"

#include <sys/resource.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz_support {

// One scratch folder per fuzzing process, removed when the process ends
// normally. A crash skips the removal, so scripts/fuzz.sh points TMPDIR into
// its build folder and empties it after each run.
inline const TempFolder& Scratch() {
    static const TempFolder folder("quendal-fuzz");
    return folder;
}

// A small archive can still declare gigabytes: a file over 64 MiB fails its
// write (EFBIG) instead of filling the disk.
inline void LimitFileSize() {
    rlimit limit{64 << 20, 64 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
}

inline void WriteWhole(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));
}

inline std::string ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The input cut at every `separator`: field i is the text before the i-th one.
inline std::vector<std::string> Fields(const uint8_t* data, size_t size, char separator) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator)
            fields.emplace_back();
        else
            fields.back() += static_cast<char>(data[i]);
    }
    return fields;
}

}  // namespace fuzz_support
