// Lists a large archive through the component's detection and directory walk
// (every entry selected by "*.*", its local header checked, its name
// translated) and writes an "unzip -l" style line per entry to /dev/null; in
// the same run the unzip tool lists the same archive the same way. Prints the
// best time of each over several rounds and their ratio.
//
// Usage: listing_bench <archive> [rounds]

#include "archive/unzip.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Detection, the walk and the formatted listing; returns the entry count.
size_t ListWithComponent(const std::string& archive) {
    TUnZip unzip;
    unzip.SetFileSpec({"*.*"});
    unzip.SetArchiveFile(archive);
    const TUnBaseHeaderObj entries = unzip.ListEntries();
    std::FILE* out = std::fopen("/dev/null", "w");
    uint64_t total = 0;
    for (const TUnBaseHeader& e : entries) {
        const uint32_t date = e.DosDateTime >> 16, time = e.DosDateTime & 0xFFFF;
        std::fprintf(out, "%9llu  %02u-%02u-%04u %02u:%02u   %s\n", static_cast<unsigned long long>(e.UnpackedSize),
                     (date >> 5) & 15, date & 31, (date >> 9) + 1980, time >> 11, (time >> 5) & 63, e.Name.c_str());
        total += e.UnpackedSize;
    }
    std::fprintf(out, "%9llu                     %zu files\n", static_cast<unsigned long long>(total), entries.size());
    std::fclose(out);
    return entries.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <archive> [rounds]\n", argv[0]);
        return 2;
    }
    const std::string archive = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string unzipCommand = "unzip -l '" + archive + "' > /dev/null";

    double bestComponent = 1e9, bestUnzip = 1e9;
    size_t listed = 0;
    for (int round = 0; round < rounds; ++round) {
        Clock::time_point start = Clock::now();
        listed = ListWithComponent(archive);
        bestComponent = std::min(bestComponent, Seconds(start));

        start = Clock::now();
        if (std::system(unzipCommand.c_str()) != 0) {
            std::fprintf(stderr, "unzip -l failed on %s\n", archive.c_str());
            return 1;
        }
        bestUnzip = std::min(bestUnzip, Seconds(start));
    }
    std::printf("listing %zu entries (best of %d): component %.3f s, unzip -l %.3f s, ratio component/unzip %.2f\n",
                listed, rounds, bestComponent, bestUnzip, bestComponent / bestUnzip);
    return 0;
}
