#pragma once

#include <cstdint>

// The stream record of the Deflate / Deflate64 decoder: the caller's input
// and output cursors, the counts, the allocation hooks and the private state.

struct InflateState;

// Returns items * size bytes of zero-filled memory, or null.
using TAllocFunc = void* (*)(uint32_t opaque, uint32_t items, uint32_t size);
using TFreeFunc = void (*)(uint32_t opaque, void* address);

struct TInflateRec {
    const uint8_t* NextIn = nullptr;  // next compressed byte to read
    int32_t AvailIn = 0;              // compressed bytes available at NextIn
    uint64_t TotalIn = 0;             // compressed bytes consumed since the last reset
    uint8_t* NextOut = nullptr;       // where the next plain byte goes
    int32_t AvailOut = 0;             // free space at NextOut
    uint64_t TotalOut = 0;            // plain bytes delivered since the last reset
    InflateState* State = nullptr;    // private; null before init and after the end
    TAllocFunc AllocFunc = nullptr;
    TFreeFunc FreeFunc = nullptr;
    uint32_t Opaque = 0;      // passed to both callbacks
    uint32_t DataType = 0;    // not used by the decoder
    uint32_t CheckValue = 0;  // only meaningful with the zlib wrapper, which raw mode never uses
    uint32_t Reserved = 0;
};
