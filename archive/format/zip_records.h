#pragma once

#include <cstddef>
#include <cstdint>

// The ZIP records as stored (little-endian), parsed into fields. Sizes and
// offsets stay as stored; 0xFFFFFFFF defers to the zip64 extra field.

inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLe32(const uint8_t* p) { return LoadLe16(p) | (static_cast<uint32_t>(LoadLe16(p + 2)) << 16); }
inline uint64_t LoadLe64(const uint8_t* p) { return LoadLe32(p) | (static_cast<uint64_t>(LoadLe32(p + 4)) << 32); }
inline void StoreLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t value) {
    StoreLe16(p, static_cast<uint16_t>(value));
    StoreLe16(p + 2, static_cast<uint16_t>(value >> 16));
}

inline constexpr uint32_t kLocalSignature = 0x04034B50;
inline constexpr uint32_t kCentralSignature = 0x02014B50;
inline constexpr uint32_t kEndSignature = 0x06054B50;
inline constexpr uint32_t kEnd26Signature = 0x06055B50;  // the 26-byte end record ("P[")
inline constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr uint32_t kSpanningMarker = 0x08074B50;
inline constexpr uint32_t kZip64Deferred = 0xFFFFFFFF;

// Header signatures come in four forms, "PK", "PL", "PM" and "PN" followed by
// the record's two bytes; "PL" and "PN" are scrambled headers, which this
// reader does not decipher and therefore never takes as headers.
enum class SignatureForm { None, Plain, Scrambled };
SignatureForm HeaderSignatureForm(uint32_t signature, uint16_t recordBytes);
inline bool IsLocalHeader(uint32_t signature) {
    return HeaderSignatureForm(signature, 0x0403) == SignatureForm::Plain;
}
inline bool IsCentralHeader(uint32_t signature) {
    return HeaderSignatureForm(signature, 0x0201) == SignatureForm::Plain;
}

struct TZipLocalHeader {
    static constexpr size_t kSize = 30;
    uint32_t signature = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosDateTime = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    static TZipLocalHeader Parse(const uint8_t* bytes);
    // The byte a right password deciphers the last byte of the traditional
    // encryption header to: the high byte of the DOS time when the sizes are
    // deferred to a data descriptor (flag bit 3), else the high byte of the CRC.
    uint8_t PasswordCheckByte() const {
        return static_cast<uint8_t>((flags & 0x0008) ? dosDateTime >> 8 : crc32 >> 24);
    }
};

struct TZipCentralHeader {
    static constexpr size_t kSize = 46;
    uint32_t signature = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosDateTime = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
    static TZipCentralHeader Parse(const uint8_t* bytes);
    void Store(uint8_t* bytes) const;  // the 46 bytes Parse reads
};

// The 22-byte end record; the 26-byte form fills it too (its directory
// position, an 8-byte value at offset 16, is kept in directoryPosition).
struct TZipEndRecord {
    static constexpr size_t kSize = 22;
    static constexpr size_t kSize26 = 26;
    uint32_t signature = 0;
    uint16_t thisDisk = 0;
    uint16_t directoryDisk = 0;
    uint16_t entriesOnThisDisk = 0;
    uint16_t totalEntries = 0;
    uint32_t directorySize = 0;
    uint32_t directoryOffset = 0;
    uint16_t commentLength = 0;
    uint64_t directoryPosition = 0;
    static TZipEndRecord Parse(const uint8_t* bytes);
    static TZipEndRecord Parse26(const uint8_t* bytes);
};

struct TZip64Locator {
    static constexpr size_t kSize = 20;
    uint32_t signature = 0;
    uint32_t endRecordDisk = 0;
    uint64_t endRecordPosition = 0;
    uint32_t totalDisks = 0;
    static TZip64Locator Parse(const uint8_t* bytes);
};

struct TZip64EndRecord {
    static constexpr size_t kSize = 56;
    uint32_t signature = 0;
    uint64_t recordSize = 0;
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint32_t thisDisk = 0;
    uint32_t directoryDisk = 0;
    uint64_t entriesOnThisDisk = 0;
    uint64_t totalEntries = 0;
    uint64_t directorySize = 0;
    uint64_t directoryOffset = 0;
    static TZip64EndRecord Parse(const uint8_t* bytes);
};
