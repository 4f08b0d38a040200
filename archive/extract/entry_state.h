#pragma once

#include <array>
#include <cstdint>

class TStream32;

// What the pipeline knows of the entry being extracted, filled before the
// entry is begun.
struct TEntryDescriptor {
    uint16_t flags = 0;          // general-purpose bits: 0 enciphered, 1-2 Explode options, 3 data descriptor
    uint32_t method = 0;         // compression method
    uint64_t packedSize = 0;     // less the 12-byte encryption header once decoding starts
    uint64_t unpackedSize = 0;

    bool Encrypted() const { return flags & 0x0001; }
};

// Decoding state of one entry, reset when its decoding starts.
struct TEntryOutputState {
    static constexpr int32_t kBufferSize = 32768;

    std::array<uint8_t, kBufferSize> buffer{};  // the byte-wise decoders' output, and the stored copy's chunks
    int32_t fill = 0;
    uint64_t bytesPut = 0;        // bytes the byte-wise decoder has put for this entry
    uint64_t entryBytesLeft = 0;  // uncompressed bytes not yet written
    uint64_t packedBytesLeft = 0; // compressed bytes not yet read
    TStream32* target = nullptr;  // the output file of the entry
};
