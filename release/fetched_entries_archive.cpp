#include "release/fetched_entries_archive.h"

#include <cstdint>
#include <optional>

#include "platform/file.h"
#include "platform/oem_text.h"
#include "release/entry_name.h"
#include "release/local_entry_extent.h"

namespace release {

namespace {

constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint16_t kUtf8NameFlag = 0x0800;
// At and above these, a reader looks for zip64 records, which this directory
// does not write.
constexpr uint64_t kMax32 = 0xFFFFFFFE;
constexpr size_t kMaxEntries = 0xFFFE;

void PutLittle(std::string& out, uint64_t value, int count) {
    for (int i = 0; i < count; ++i, value >>= 8) out += static_cast<char>(value & 0xFF);
}

// What the central directory says of one entry, read from its fetched bytes.
struct CheckedEntry {
    LocalHeader header;
    uint64_t packedSize = 0;
};

// The descriptor whose compressed size and place both agree with the extent
// the manifest gives: with or without its optional signature.
std::optional<DataDescriptor> DescriptorEndingAt(platform::File& file, int64_t position, const LocalHeader& header,
                                                 uint64_t length) {
    const uint32_t bodySize = header.zip64 ? 20 : 12;
    for (const uint32_t descriptorSize : {bodySize + 4, bodySize}) {
        if (length < header.DataOffset() + descriptorSize) continue;
        const uint64_t packedSize = length - header.DataOffset() - descriptorSize;
        const std::optional<DataDescriptor> descriptor = ReadDataDescriptor(file, position, header, packedSize);
        if (descriptor && descriptor->length == descriptorSize && descriptor->packedSize == packedSize)
            return descriptor;
    }
    return std::nullopt;
}

// The entry's fetched bytes against the manifest; the reason when they differ.
std::string CheckEntry(platform::File& file, int64_t fileSize, const ManifestEntry& expected, uint64_t position,
                       CheckedEntry& checked) {
    const std::string entry = "entry " + QuotedEntryName(expected.name) + ": ";
    if (position > static_cast<uint64_t>(fileSize) || expected.length > static_cast<uint64_t>(fileSize) - position)
        return entry + "the fetched file ends before its bytes do";
    const std::optional<LocalHeader> header = ReadLocalHeader(file, static_cast<int64_t>(position));
    if (!header) return entry + "no local header at byte " + std::to_string(position) + " of the fetched file";
    // The manifest names an entry as the extractor reads it: in UTF-8, from
    // the code page of the machine that made the archive where need be.
    if (header->name != expected.name && platform::OemToUtf8(header->name) != expected.name)
        return entry + "the fetched local header names " + QuotedEntryName(header->name);
    if (header->DataOffset() > expected.length)
        return entry + "its local header is longer than the manifest's " + std::to_string(expected.length) + " bytes";

    uint32_t crc32 = header->crc32;
    uint64_t packedSize = header->packedSize;
    if (header->HasDescriptor()) {
        const std::optional<DataDescriptor> descriptor =
            DescriptorEndingAt(file, static_cast<int64_t>(position), *header, expected.length);
        if (!descriptor)
            return entry + "no data descriptor ends at the manifest's length " + std::to_string(expected.length);
        crc32 = descriptor->crc32;
        packedSize = descriptor->packedSize;
    } else if (packedSize != expected.length - header->DataOffset()) {
        return entry + "its local header records " + std::to_string(packedSize) +
               " bytes of data, which do not end at the manifest's length " + std::to_string(expected.length);
    }
    if (crc32 != expected.crc32) return entry + "its CRC-32 differs from the manifest's";
    if (position > kMax32 || packedSize > kMax32 || expected.size > kMax32)
        return entry + "its size or position does not fit a ZIP directory without zip64 records";
    checked = {*header, packedSize};
    return {};
}

void PutCentralHeader(std::string& out, const CheckedEntry& checked, const ManifestEntry& expected,
                      uint64_t position) {
    const LocalHeader& header = checked.header;
    PutLittle(out, kCentralHeaderSignature, 4);
    // Made by, and the attributes: as the whole archive's directory has them,
    // so that the entry is extracted with the same modes; a manifest without
    // them gives host 0 and the version needed, and no attributes.
    PutLittle(out, expected.versionMadeBy != 0 ? expected.versionMadeBy : header.versionNeeded & 0xFF, 2);
    PutLittle(out, header.versionNeeded, 2);
    // The name the manifest gives, in UTF-8 and marked so, is the one the
    // entry is extracted to, whatever code page the archive was made in.
    PutLittle(out, header.flags | kUtf8NameFlag, 2);
    PutLittle(out, header.method, 2);
    PutLittle(out, header.time, 2);
    PutLittle(out, header.date, 2);
    PutLittle(out, expected.crc32, 4);
    PutLittle(out, checked.packedSize, 4);
    PutLittle(out, expected.size, 4);
    PutLittle(out, expected.name.size(), 2);
    PutLittle(out, 0, 2);  // extra field
    PutLittle(out, 0, 2);  // comment
    PutLittle(out, 0, 2);  // disk
    PutLittle(out, 0, 2);  // internal attributes
    PutLittle(out, expected.externalAttributes, 4);
    PutLittle(out, position, 4);
    out += expected.name;
}

void PutEndRecord(std::string& out, size_t count, uint64_t directorySize, uint64_t directoryOffset) {
    PutLittle(out, kEndRecordSignature, 4);
    PutLittle(out, 0, 2);  // this disk
    PutLittle(out, 0, 2);  // the directory's disk
    PutLittle(out, count, 2);
    PutLittle(out, count, 2);
    PutLittle(out, directorySize, 4);
    PutLittle(out, directoryOffset, 4);
    PutLittle(out, 0, 2);  // comment
}

}  // namespace

std::string CompleteFetchedEntriesArchive(const std::string& path, const ReleaseManifest& manifest,
                                          const std::vector<TFetchedEntry>& entries) {
    // An archive without a directory entry would be read by walking its local
    // headers, which are the server's bytes and no manifest's.
    if (entries.empty()) return "no entries were fetched";
    if (entries.size() > kMaxEntries)
        return std::to_string(entries.size()) + " entries are too many for a ZIP directory without zip64 records";
    platform::File file;
    if (!file.Open(path, platform::File::Mode::ReadWrite)) return "cannot open the fetched file " + path;
    const int64_t fileSize = file.Size();
    if (fileSize < 0) return "cannot read the size of the fetched file " + path;

    std::string directory;
    for (const TFetchedEntry& fetched : entries) {
        if (fetched.entry >= manifest.entries.size())
            return "fetched entry " + std::to_string(fetched.entry) + " is not in the manifest";
        const ManifestEntry& expected = manifest.entries[fetched.entry];
        if (!IsPlainEntryName(expected.name))
            return "entry " + QuotedEntryName(expected.name) + " is not a plain relative path below the program folder";
        CheckedEntry checked;
        const std::string error = CheckEntry(file, fileSize, expected, fetched.position, checked);
        if (!error.empty()) return error;
        PutCentralHeader(directory, checked, expected, fetched.position);
    }
    const auto directoryOffset = static_cast<uint64_t>(fileSize);
    if (directoryOffset > kMax32 || directory.size() > kMax32 - directoryOffset)
        return "the fetched file is too large for a ZIP directory without zip64 records";
    PutEndRecord(directory, entries.size(), directory.size(), directoryOffset);
    if (file.Seek(fileSize, platform::File::Origin::Begin) != fileSize ||
        file.Write(directory.data(), directory.size()) != static_cast<int64_t>(directory.size())) {
        return "cannot write the directory of the fetched file " + path;
    }
    return {};
}

}  // namespace release
