#pragma once

// Scratch folders and helpers shared by the detection, directory and volume
// tests. Their archives were made by the real tools (zip, 7zz, Python's
// zipfile) or by tests/fixtures/detection/zipcraft.py for crafted fields, and
// are kept in tests/fixtures/tool-made/; Python() makes one at run time where
// it is too large to keep.

#include <gtest/gtest.h>

#include "archive/unzip.h"
#include "platform/file_system.h"
#include "support/temp_folder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace detection_test {

// One OnError report as the tests record it.
struct Report {
    std::string fileName, extendedMsg, volumeID;
    int32_t code;
    bool operator==(const Report&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Report& r) {
    return out << r.code << " " << r.fileName << " [" << r.extendedMsg << "] " << r.volumeID;
}


// The shared self-removing folder, with the string paths these tests build on;
// the path ends in the system's separator, as the component's own paths do.
class TempFolder : public ::TempFolder {
public:
    TempFolder() : ::TempFolder("quendal-detect"), path_((path() / "").string()) {}
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// A name written with "/" in the system's own separators.
inline std::string NativePath(std::string path) {
    std::replace(path.begin(), path.end(), '/', platform::kPathSeparator);
    return path;
}

inline int Shell(const std::string& command) { return std::system(command.c_str()); }

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs Python with zipcraft importable; `script` builds files in `folder`.
inline int Python(const TempFolder& folder, const std::string& script) {
    const std::string file = folder / "make.py";
    WriteBytes(file, "import sys, os, struct, zipfile\nsys.path.insert(0, '" QUENDAL_TEST_FIXTURES
                     "/detection')\nfrom zipcraft import *\nos.chdir('" +
                         folder.Path() + "')\n" + script);
    return Shell("python3 '" + file + "'");
}

inline uint32_t Le32(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
           static_cast<uint8_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

// The directory offset stored in the end record of an archive without a comment.
inline uint32_t StoredDirectoryOffset(const std::string& archive) { return Le32(archive, archive.size() - 6); }

// A component selecting every entry whose OnError reports are recorded.
class ReportingTest : public ::testing::Test {
protected:
    ReportingTest() {
        unzip.SetFileSpec({"*.*"});
        unzip.OnError = [this](TObject*, const std::string& file, const std::string& extended,
                               const std::string& volume, int32_t code) {
            reports.push_back({file, extended, volume, code});
        };
    }
    TUnZip unzip;
    std::vector<Report> reports;
};

}  // namespace detection_test
