#include "archive/reader/packed_entry.h"

#include <cstring>

namespace {

enum PresenceBits : uint8_t {
    kHasTime = 1,
    kRawNameDiffers = 2,
    kCentralRebuilt = 4,   // the central header follows from the entry's facts and a few fields
    kCentralVerbatim = 8,  // the central header is kept whole
};

void PutNumber(std::vector<uint8_t>& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

uint64_t GetNumber(const uint8_t*& at) {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const uint8_t byte = *at++;
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return value;
    }
}

// Signed values map to small numbers when they are near zero.
void PutSigned(std::vector<uint8_t>& out, int64_t value) {
    PutNumber(out, (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63));
}

int64_t GetSigned(const uint8_t*& at) {
    const uint64_t number = GetNumber(at);
    return static_cast<int64_t>((number >> 1) ^ (~(number & 1) + 1));
}

void PutFixed32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    StoreLe32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

uint32_t GetFixed32(const uint8_t*& at) {
    const uint32_t value = LoadLe32(at);
    at += 4;
    return value;
}

void PutText(std::vector<uint8_t>& out, const std::string& text) {
    PutNumber(out, text.size());
    out.insert(out.end(), text.begin(), text.end());
}

void GetText(const uint8_t*& at, std::string& text) {
    const auto length = static_cast<size_t>(GetNumber(at));
    text.assign(reinterpret_cast<const char*>(at), length);
    at += length;
}

// A 32-bit header field beside the wider value the walk made of it (joined
// with its high part, or taken from the zip64 field): kept as their
// difference, which is 0 in the common case.
int64_t FieldDifference(uint64_t value, uint32_t field) { return static_cast<int64_t>(value - field); }
uint32_t FieldFromDifference(uint64_t value, int64_t difference) {
    return static_cast<uint32_t>(value - static_cast<uint64_t>(difference));
}

bool CentralFollowsFromEntry(const TZipCentralHeader& central, const TUnBaseHeader& entry) {
    return central.signature == kCentralSignature && central.flags == entry.Flags && central.method == entry.Method &&
           central.dosDateTime == entry.DosDateTime && central.crc32 == entry.Crc32 &&
           central.externalAttributes == entry.Record.Attributes &&
           static_cast<uint16_t>(central.diskNumberStart + 1) == entry.Record.Disk;
}

}  // namespace

void AppendPackedEntry(const TUnBaseHeader& entry, std::vector<uint8_t>& out) {
    std::optional<TZipCentralHeader> central;
    if (entry.CentralCopy) central = TZipCentralHeader::Parse(entry.CentralCopy->data());
    const bool rebuilt = central && CentralFollowsFromEntry(*central, entry);
    uint8_t presence = 0;
    if (entry.ModificationTime) presence |= kHasTime;
    if (entry.RawName != entry.Name) presence |= kRawNameDiffers;
    if (central) presence |= rebuilt ? kCentralRebuilt : kCentralVerbatim;

    out.push_back(presence);
    PutFixed32(out, entry.Record.Attributes);
    PutNumber(out, entry.Record.Disk);
    PutSigned(out, entry.Record.LocalPosition);
    PutNumber(out, entry.Flags);
    PutNumber(out, entry.Method);
    PutFixed32(out, entry.Crc32);
    PutFixed32(out, entry.DosDateTime);
    PutNumber(out, entry.PackedSize);
    PutNumber(out, entry.UnpackedSize);
    if (entry.ModificationTime) {
        PutSigned(out, entry.ModificationTime->seconds);
        PutNumber(out, entry.ModificationTime->nanoseconds);
    }
    PutText(out, entry.Name);
    if (presence & kRawNameDiffers) PutText(out, entry.RawName);
    if (rebuilt) {
        for (const uint16_t field : {central->versionMadeBy, central->versionNeeded, central->nameLength,
                                     central->extraLength, central->commentLength, central->internalAttributes})
            PutNumber(out, field);
        PutSigned(out, FieldDifference(entry.PackedSize, central->compressedSize));
        PutSigned(out, FieldDifference(entry.UnpackedSize, central->uncompressedSize));
        PutSigned(out, FieldDifference(static_cast<uint64_t>(entry.Record.LocalPosition), central->localHeaderOffset));
    } else if (central) {
        out.insert(out.end(), entry.CentralCopy->begin(), entry.CentralCopy->end());
    }
}

const uint8_t* ReadPackedEntry(const uint8_t* at, TUnBaseHeader& entry) {
    const uint8_t presence = *at++;
    entry.Record.Attributes = GetFixed32(at);
    entry.Record.Disk = static_cast<uint16_t>(GetNumber(at));
    entry.Record.LocalPosition = GetSigned(at);
    entry.Flags = static_cast<uint16_t>(GetNumber(at));
    entry.Method = static_cast<uint16_t>(GetNumber(at));
    entry.Crc32 = GetFixed32(at);
    entry.DosDateTime = GetFixed32(at);
    entry.PackedSize = GetNumber(at);
    entry.UnpackedSize = GetNumber(at);
    entry.ModificationTime.reset();
    if (presence & kHasTime) {
        platform::UtcFileTime time;
        time.seconds = GetSigned(at);
        time.nanoseconds = static_cast<uint32_t>(GetNumber(at));
        entry.ModificationTime = time;
    }
    GetText(at, entry.Name);
    if (presence & kRawNameDiffers)
        GetText(at, entry.RawName);
    else
        entry.RawName = entry.Name;
    entry.CentralCopy.reset();
    if (presence & kCentralRebuilt) {
        TZipCentralHeader central;
        central.signature = kCentralSignature;
        for (uint16_t* field : {&central.versionMadeBy, &central.versionNeeded, &central.nameLength,
                                &central.extraLength, &central.commentLength, &central.internalAttributes})
            *field = static_cast<uint16_t>(GetNumber(at));
        central.flags = entry.Flags;
        central.method = entry.Method;
        central.dosDateTime = entry.DosDateTime;
        central.crc32 = entry.Crc32;
        central.compressedSize = FieldFromDifference(entry.PackedSize, GetSigned(at));
        central.uncompressedSize = FieldFromDifference(entry.UnpackedSize, GetSigned(at));
        central.localHeaderOffset = FieldFromDifference(static_cast<uint64_t>(entry.Record.LocalPosition), GetSigned(at));
        central.diskNumberStart = static_cast<uint16_t>(entry.Record.Disk - 1);
        central.externalAttributes = entry.Record.Attributes;
        entry.CentralCopy.emplace();
        central.Store(entry.CentralCopy->data());
    } else if (presence & kCentralVerbatim) {
        entry.CentralCopy.emplace();
        std::memcpy(entry.CentralCopy->data(), at, TZipCentralHeader::kSize);
        at += TZipCentralHeader::kSize;
    }
    return at;
}
