#include "archive/format/zip_records.h"

SignatureForm HeaderSignatureForm(uint32_t signature, uint16_t recordBytes) {
    if ((signature & 0xFF) != 'P' || (signature >> 16) != recordBytes) return SignatureForm::None;
    switch ((signature >> 8) & 0xFF) {
        case 'K':
        case 'M': return SignatureForm::Plain;
        case 'L':
        case 'N': return SignatureForm::Scrambled;
        default: return SignatureForm::None;
    }
}

TZipLocalHeader TZipLocalHeader::Parse(const uint8_t* b) {
    TZipLocalHeader h;
    h.signature = LoadLe32(b);
    h.versionNeeded = LoadLe16(b + 4);
    h.flags = LoadLe16(b + 6);
    h.method = LoadLe16(b + 8);
    h.dosDateTime = LoadLe32(b + 10);
    h.crc32 = LoadLe32(b + 14);
    h.compressedSize = LoadLe32(b + 18);
    h.uncompressedSize = LoadLe32(b + 22);
    h.nameLength = LoadLe16(b + 26);
    h.extraLength = LoadLe16(b + 28);
    return h;
}

TZipCentralHeader TZipCentralHeader::Parse(const uint8_t* b) {
    TZipCentralHeader h;
    h.signature = LoadLe32(b);
    h.versionMadeBy = LoadLe16(b + 4);
    h.versionNeeded = LoadLe16(b + 6);
    h.flags = LoadLe16(b + 8);
    h.method = LoadLe16(b + 10);
    h.dosDateTime = LoadLe32(b + 12);
    h.crc32 = LoadLe32(b + 16);
    h.compressedSize = LoadLe32(b + 20);
    h.uncompressedSize = LoadLe32(b + 24);
    h.nameLength = LoadLe16(b + 28);
    h.extraLength = LoadLe16(b + 30);
    h.commentLength = LoadLe16(b + 32);
    h.diskNumberStart = LoadLe16(b + 34);
    h.internalAttributes = LoadLe16(b + 36);
    h.externalAttributes = LoadLe32(b + 38);
    h.localHeaderOffset = LoadLe32(b + 42);
    return h;
}

void TZipCentralHeader::Store(uint8_t* b) const {
    StoreLe32(b, signature);
    StoreLe16(b + 4, versionMadeBy);
    StoreLe16(b + 6, versionNeeded);
    StoreLe16(b + 8, flags);
    StoreLe16(b + 10, method);
    StoreLe32(b + 12, dosDateTime);
    StoreLe32(b + 16, crc32);
    StoreLe32(b + 20, compressedSize);
    StoreLe32(b + 24, uncompressedSize);
    StoreLe16(b + 28, nameLength);
    StoreLe16(b + 30, extraLength);
    StoreLe16(b + 32, commentLength);
    StoreLe16(b + 34, diskNumberStart);
    StoreLe16(b + 36, internalAttributes);
    StoreLe32(b + 38, externalAttributes);
    StoreLe32(b + 42, localHeaderOffset);
}

TZipEndRecord TZipEndRecord::Parse(const uint8_t* b) {
    TZipEndRecord r;
    r.signature = LoadLe32(b);
    r.thisDisk = LoadLe16(b + 4);
    r.directoryDisk = LoadLe16(b + 6);
    r.entriesOnThisDisk = LoadLe16(b + 8);
    r.totalEntries = LoadLe16(b + 10);
    r.directorySize = LoadLe32(b + 12);
    r.directoryOffset = LoadLe32(b + 16);
    r.commentLength = LoadLe16(b + 20);
    r.directoryPosition = r.directoryOffset;
    return r;
}

// The 26-byte form shares the first 16 bytes; its directory position is
// 8 bytes wide and the comment length follows it.
TZipEndRecord TZipEndRecord::Parse26(const uint8_t* b) {
    TZipEndRecord r = Parse(b);
    r.directoryPosition = LoadLe64(b + 16);
    r.directoryOffset = static_cast<uint32_t>(r.directoryPosition);
    r.commentLength = LoadLe16(b + 24);
    return r;
}

TZip64Locator TZip64Locator::Parse(const uint8_t* b) {
    TZip64Locator l;
    l.signature = LoadLe32(b);
    l.endRecordDisk = LoadLe32(b + 4);
    l.endRecordPosition = LoadLe64(b + 8);
    l.totalDisks = LoadLe32(b + 16);
    return l;
}

TZip64EndRecord TZip64EndRecord::Parse(const uint8_t* b) {
    TZip64EndRecord r;
    r.signature = LoadLe32(b);
    r.recordSize = LoadLe64(b + 4);
    r.versionMadeBy = LoadLe16(b + 12);
    r.versionNeeded = LoadLe16(b + 14);
    r.thisDisk = LoadLe32(b + 16);
    r.directoryDisk = LoadLe32(b + 20);
    r.entriesOnThisDisk = LoadLe64(b + 24);
    r.totalEntries = LoadLe64(b + 32);
    r.directorySize = LoadLe64(b + 40);
    r.directoryOffset = LoadLe64(b + 48);
    return r;
}
