#pragma once

#include "archive/format/archive_facts.h"
#include "archive/reader/byte_source.h"

#include <cstdint>
#include <optional>
#include <string>

// Finds the end record in one window at the end of the file, then the central
// directory, computed from the end record's own position less the directory
// size so that data prepended to an archive does not disturb it. Without a
// central directory it searches the start of the file for a local header.
// Sets HeaderState, OffsetAdjust, CommentStart and the work areas; returns the
// directory position, the local header position (HeaderState {htLocal}), 0
// when nothing was found, or -1 when the forward search found nothing.
int64_t LocateZipDirectory(ByteSource& source, ArchiveFacts& facts);

// The high parts of sizes and offsets, from the zip64 block (tag 0x0001) or the
// high-word block (tag 0x0064) of an extra field.
struct ExtraFieldHighWords {
    uint16_t compressedHigh = 0;
    uint16_t uncompressedHigh = 0;
    uint16_t offsetHigh = 0;
};

enum class ExtraFieldKind { Local, Central };

// Reads the extra field of `length` bytes at `position`. For the zip64 block
// the 32-bit fields holding 0xFFFFFFFF are replaced by the low halves of the
// stored values (local header: uncompressed and compressed size; central
// header: those and the local-header offset).
ExtraFieldHighWords ReadExtraField(ByteSource& source, int64_t position, uint16_t length, ExtraFieldKind kind,
                                   uint32_t& uncompressedSize, uint32_t& compressedSize, uint32_t* localOffset);

// A stored entry name, whole, up to its first zero byte.
std::string ReadEntryName(ByteSource& source, int64_t position, uint16_t storedLength);

// What tells how a stored name is encoded.
struct EntryNameOrigin {
    uint16_t flags = 0;                      // general-purpose bit 11: the name is UTF-8
    uint16_t versionMadeBy = 0;              // central headers only; high byte 3: made on Unix
    std::optional<std::string> unicodePath;  // from a Unicode Path block that matches the name
};

// The name as this system shows and writes it, with "/" and "\" turned into
// the native path separator. Its text is the Unicode Path when there is one,
// else the name itself when flagged as UTF-8 or made on Unix as valid UTF-8
// (tools there store the bytes of the user's locale), else the name
// converted from the OEM code page when translateOemChar is set.
std::string TranslateEntryName(const std::string& rawName, const EntryNameOrigin& origin, bool translateOemChar);

inline uint64_t Join48(uint32_t low, uint16_t high) { return low | (static_cast<uint64_t>(high) << 32); }
