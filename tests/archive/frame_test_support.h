#pragma once

// Small helpers shared by the frame, cipher, matcher and stream tests.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archive/reader/file_stream32.h"
#include "platform/file_system.h"

namespace frame_test {

// A path with the system's separators written as "/", so that expectations
// read the same on every system.
inline std::string SlashPath(std::string path) {
    std::replace(path.begin(), path.end(), platform::kPathSeparator, '/');
    return path;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that compress a little but not to nothing.
inline std::string SampleText(size_t length) {
    std::string text;
    uint32_t state = 12345;
    while (text.size() < length) {
        state = state * 1103515245u + 12345u;
        text += "word" + std::to_string((state >> 16) % 97) + ' ';
    }
    text.resize(length);
    return text;
}

inline uint16_t Le16(const std::string& b, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

inline uint32_t Le32(const std::string& b, size_t at) {
    return Le16(b, at) | static_cast<uint32_t>(Le16(b, at + 2)) << 16;
}

// A local header of a ZIP file and where its data starts.
struct LocalEntry {
    size_t offset = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosDateTime = 0;
    uint32_t crc = 0;
    uint32_t packedSize = 0;
    size_t dataStart = 0;
};

inline LocalEntry LocalEntryAt(const std::string& zip, size_t offset) {
    LocalEntry e;
    e.offset = offset;
    e.flags = Le16(zip, offset + 6);
    e.method = Le16(zip, offset + 8);
    e.dosDateTime = Le32(zip, offset + 10);
    e.crc = Le32(zip, offset + 14);
    e.packedSize = Le32(zip, offset + 18);
    e.dataStart = offset + 30u + Le16(zip, offset + 26) + Le16(zip, offset + 28);
    return e;
}

inline LocalEntry FirstLocalEntry(const std::string& zip) { return LocalEntryAt(zip, 0); }

// Whether the device that is always full, /dev/full, opens for writing here
// (under Wine a Windows program reaches it as well, through drive Z:).
inline bool FullDeviceOpens() {
    TFileStream32 probe("/dev/full", fmOpenWrite | fmShareDenyNone);
    return probe.Handle() >= 0;
}

}  // namespace frame_test
