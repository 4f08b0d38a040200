// Decodes every Shrink, Reduce and Implode entry of the archives named on
// the command line and checks its CRC, as unzip -t does, once per run; prints
// one line per archive and run: archive, plain bytes, seconds, entries that
// failed their check.
//
// usage: legacy_bench RUNS ARCHIVE...

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/codec/legacy_decoder.h"
#include "archive/format/crc.h"

namespace {

struct EntryData {
    uint32_t method;
    uint16_t flags;
    uint32_t crc;
    uint64_t packedOffset, packedSize, plainSize;
};

uint32_t Le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + static_cast<size_t>(i)]);
    return v;
}

// The legacy entries, from the central directory of a plain archive.
std::vector<EntryData> LegacyEntries(const std::string& zip) {
    const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    std::vector<EntryData> entries;
    if (end == std::string::npos) return entries;
    size_t at = Le(zip, end + 16, 4);
    for (uint32_t i = 0, n = Le(zip, end + 10, 2); i < n; ++i) {
        const size_t local = Le(zip, at + 42, 4);
        const EntryData e{Le(zip, at + 10, 2), static_cast<uint16_t>(Le(zip, at + 8, 2)), Le(zip, at + 16, 4),
                          local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2), Le(zip, at + 20, 4),
                          Le(zip, at + 24, 4)};
        if (IsLegacyMethod(e.method) && !(e.flags & 1)) entries.push_back(e);
        at += 46 + Le(zip, at + 28, 2) + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
    }
    return entries;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: legacy_bench RUNS ARCHIVE...\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    for (int run = 0; run < runs; ++run) {
        for (int a = 2; a < argc; ++a) {
            const auto start = std::chrono::steady_clock::now();
            std::ifstream file(argv[a], std::ios::binary);
            const std::string zip((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            uint64_t bytes = 0;
            int failed = 0;
            for (const EntryData& e : LegacyEntries(zip)) {
                const auto* data = reinterpret_cast<const uint8_t*>(zip.data() + e.packedOffset);
                size_t position = 0;
                uint32_t crc = 0xFFFFFFFF;
                auto source = [&](uint8_t* buffer, int32_t capacity) {
                    const size_t count = std::min<size_t>(e.packedSize - position, static_cast<size_t>(capacity));
                    std::memcpy(buffer, data + position, count);
                    position += count;
                    return static_cast<int32_t>(count);
                };
                auto sink = [&](const uint8_t* plain, int32_t count) {
                    crc = UpdateCrc32(crc, plain, static_cast<size_t>(count));
                    bytes += static_cast<uint64_t>(count);
                    return true;
                };
                bool error = false;
                DecodeLegacyEntry(e.method, e.flags, e.plainSize, source, sink,
                                  [&](const LegacyResult&) { error = true; });
                if (error || (crc ^ 0xFFFFFFFF) != e.crc) ++failed;
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%s\t%llu\t%.6f\t%d\n", argv[a], static_cast<unsigned long long>(bytes), seconds, failed);
            std::fflush(stdout);
        }
    }
    return 0;
}
