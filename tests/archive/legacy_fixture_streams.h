#pragma once

// The compressed streams of one text in every legacy method, taken from a
// fixture archive: many_formats.zip holds the same 81,682 bytes stored,
// shrunk, reduced with factors 1 to 4 and imploded.

#include <string>
#include <vector>

#include "frame_test_support.h"

namespace legacy_test {

struct FixtureStream {
    int method;
    uint16_t flags;
    std::string packed;
};

struct FixtureStreams {
    std::string plain;
    std::vector<FixtureStream> streams;  // one per method 1 to 6
};

inline FixtureStreams ManyFormatsStreams() {
    const std::string zip = frame_test::ReadFile(std::string(QUENDAL_TEST_FIXTURES) + "/legacy/many_formats.zip");
    FixtureStreams result;
    for (size_t at = 0; at + 30 <= zip.size() && frame_test::Le32(zip, at) == 0x04034B50;) {
        const frame_test::LocalEntry e = frame_test::LocalEntryAt(zip, at);
        const std::string data = zip.substr(e.dataStart, e.packedSize);
        if (e.method == 0) result.plain = data;
        const bool taken = std::any_of(result.streams.begin(), result.streams.end(),
                                       [&](const FixtureStream& s) { return s.method == e.method; });
        if (e.method >= 1 && e.method <= 6 && !taken) result.streams.push_back({e.method, e.flags, data});
        at = e.dataStart + e.packedSize;
    }
    return result;
}

}  // namespace legacy_test
