#pragma once

#include "archive/format/archive_facts.h"
#include "archive/reader/byte_source.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Decides what kind of archive a file holds and, for ZIP archives, where its
// directory lies. Other archive types are only recognised.
class ArchiveDetector {
public:
    // Tells a spanned archive (atZipDS) from a split one (atZipMV) by the drive
    // the archive is on; atNA when the drive cannot be queried.
    using SpannedDiskCheck = std::function<TArcType()>;

    ArchiveDetector(ByteSource& source, std::string fileName, ArchiveFacts facts, SpannedDiskCheck checkSpannedDisk);

    // Resets and fills the facts; the archive's own date is taken as well.
    TArcType DetectArcType();

    // The type the first four bytes name, at the start of a plain file or
    // inside an executable (afterStub).
    TArcType ClassifySignature(const uint8_t* bytes, bool afterStub);
    int64_t LocateZipDirectory();

    struct ScanResult {
        int64_t position = 0;
        TArcType type = atNA;
    };
    // Forward search for seven signatures, from `start`, in at most eleven
    // blocks of 32768 bytes.
    ScanResult ScanForSignature(int64_t start);

    // Fixed places where self-extracting stubs put their archive.
    TArcType ProbeSfxOffsets();
    // Archive offsets kept as string resources 1 to 7 of a self-extractor.
    std::optional<TArcType> ProbeResources();  // engaged: detection ends with it
    TArcType ProbeStubEnd(const uint8_t* dosHeader);
    bool IsUuencoded();
    bool IsTar();

private:
    TArcType DetectExecutable(const uint8_t* head);
    TArcType DetectPlain(const uint8_t* head, size_t headLength);
    bool HasAceMarkAt(const uint8_t* bytes, size_t length, size_t at) const;
    bool ReadExactly(int64_t position, void* buffer, size_t count) {
        return source_.ReadExactly(position, buffer, count);
    }

    ByteSource& source_;
    std::string fileName_;
    ArchiveFacts facts_;
    SpannedDiskCheck checkSpannedDisk_;
};

bool IsZipFamilyWithDirectory(TArcType type);  // atJar, atJarExe, atZip, atZipExe
