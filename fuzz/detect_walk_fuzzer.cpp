// Detection and the directory walk that follows it, on any bytes: the
// component walks the local headers when only those were found and the
// central directory otherwise, and so does this target. The packed entry
// list is then read back, in order and by index, and both must agree.

#include "archive/reader/archive_detection.h"
#include "archive/reader/zip_directory_walk.h"
#include "archive/reader/file_stream32.h"
#include "fuzz_support.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = (fuzz_support::Scratch() / "input.zip").string();
    fuzz_support::WriteWhole(path, data, size);

    ArchiveFactsStore store;
    ArchiveFacts facts = store.Facts();
    TFileStream32 file(path, fmOpenRead | fmShareDenyWrite);
    ByteSource source(file);
    ArchiveDetector detector(source, path, facts, [] { return atZipMV; });
    const TArcType type = detector.DetectArcType();
    if (!IsZipFamilyWithDirectory(type) && type != atZipMV && type != atZipDS) return 0;

    ZipWalkHooks hooks;
    hooks.SelectEntry = [](const std::string&) { return true; };
    hooks.ReportBadHeader = [](const std::string&) {};
    hooks.LocalHeadersElsewhere = type == atZipMV || type == atZipDS;
    TUnBaseHeaderObj entries;
    ZipWalkTotals totals;
    ZipDirectoryWalk walk(source, facts, hooks, entries, totals);
    if (facts.HeaderState == THeaderTypeState{htLocal})
        walk.ReadLocalHeaders();
    else
        walk.ReadCentralDirectory();

    int index = 0;
    for (const TUnBaseHeader& entry : entries) {
        const TUnBaseHeader byIndex = entries[index++];
        if (entry.Name != byIndex.Name || entry.RawName != byIndex.RawName || entry.CentralCopy != byIndex.CentralCopy ||
            entry.PackedSize != byIndex.PackedSize || entry.UnpackedSize != byIndex.UnpackedSize ||
            entry.Record.LocalPosition != byIndex.Record.LocalPosition)
            std::abort();
    }
    if (index != entries.Count()) std::abort();
    return 0;
}
