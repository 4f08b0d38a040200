#pragma once

#include <cstdint>

#include "archive/codec/inflate_record.h"

// Resumable raw Deflate / Deflate64 decoder. A call decodes as far as the
// input and output space allow and can stop and resume at any byte of either.
// The variant (Deflate or Deflate64) is chosen when a stream is initialised
// and belongs to that stream alone.

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

// Deflate (method 8) or Deflate64 (method 9): Deflate64 widens the window by
// one bit, takes 32 distance codes in the fixed code and in dynamic headers,
// and its length code 285 carries 16 extra bits.
enum class InflateVariant : uint8_t { Deflate, Deflate64 };

// Negative WindowBits: raw Deflate with |WindowBits| window bits (one more
// under Deflate64). Positive values would ask for the zlib wrapper, which this
// decoder does not offer: they give -2.
int InflateInit(TInflateRec* rec, int windowBits, int recordCheck,
                InflateVariant variant = InflateVariant::Deflate);
int InflateReset(TInflateRec* rec);
int Inflate(TInflateRec* rec, int flush);
int InflateEnd(TInflateRec* rec);

// The zero-filling allocation pair installed when the record has none.
void* InflateDefaultAlloc(uint32_t opaque, uint32_t items, uint32_t size);
void InflateDefaultFree(uint32_t opaque, void* address);
