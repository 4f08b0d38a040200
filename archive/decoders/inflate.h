#pragma once

#include <cstdint>

// Resumable raw Deflate / Deflate64 decoder. A call decodes as far as the
// input and output space allow and can stop and resume at any byte of either.
// The variant (Deflate or Deflate64) is a process-wide setting, chosen by the
// caller before each stream is initialised.

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

// Return codes.
constexpr int kInflateOk = 0;
constexpr int kInflateStreamEnd = 1;
constexpr int kInflateStreamError = -2;
constexpr int kInflateDataError = -3;
constexpr int kInflateMemError = -4;
constexpr int kInflateBufError = -5;  // neither input consumed nor output delivered
constexpr int kInflateVersionError = -6;

// Flush values of Inflate.
constexpr int kInflateNoFlush = 0;
constexpr int kInflateFinish = 4;  // a call that does not reach the end returns -5

// The record check value InflateInit insists on, guarding against a caller
// built against a different record layout.
constexpr int kInflateRecordCheck = 74;

// Negative WindowBits: raw Deflate with |WindowBits| window bits (one more
// under Deflate64). Positive values would ask for the zlib wrapper, which this
// decoder does not offer: they give -2.
int InflateInit(TInflateRec* rec, int windowBits, int recordCheck);
int InflateReset(TInflateRec* rec);
int Inflate(TInflateRec* rec, int flush);
int InflateEnd(TInflateRec* rec);

// The zero-filling allocation pair installed when the record has none.
void* InflateDefaultAlloc(uint32_t opaque, uint32_t items, uint32_t size);
void InflateDefaultFree(uint32_t opaque, void* address);

// Process-wide variant settings. They are read at initialisation (window
// size), at every dynamic block header and whenever code tables are built, so
// they must not change while a stream is being decoded.
void SetInflateDeflate64(bool on);
bool InflateDeflate64();
// Number of distance codes of the fixed code: 30 for Deflate, 32 for
// Deflate64. Other values are taken as the nearer of the two.
void SetInflateFixedDistanceCount(int count);
int InflateFixedDistanceCount();
