#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "archive/codec/legacy_bit_reader.h"
#include "archive/codec/legacy_error.h"
#include "archive/codec/legacy_output.h"

// Shrink (method 1), Reduce (2 to 5) and Implode (6).

// How a decoder ended: no fault when the declared size was put or the data
// ran out (the CRC check then judges the bytes); otherwise a fault, raised
// (the entry ends with what was decoded) or only reported (the entry was not
// decoded).
struct LegacyResult {
    LegacyFault fault = LegacyFault::None;
    bool raised = false;
};

bool IsLegacyMethod(uint32_t method);

// Decodes one entry: reads its compressed bytes from source and hands the
// plain ones to sink in blocks of up to 32 KiB, never more than
// unpackedSize in all. flags are the entry's general-purpose flags (Implode
// takes its window and trees from them). onError is called with an error as
// soon as it is known; the output decoded before it is handed on first for
// StackOverflow, after it otherwise, and in any case also when onError throws. Any
// other method is reported as UnsupportedMethod and nothing is read.
void DecodeLegacyEntry(uint32_t method, uint16_t flags, uint64_t unpackedSize, LegacyBitReader::Source source,
                       LegacyOutput::Sink sink, const std::function<void(const LegacyResult&)>& onError);

// The same on a buffer, for tests, benchmarks and fuzzing: appends the plain
// bytes to output and returns how the decoder ended.
LegacyResult DecodeLegacyBuffer(uint32_t method, uint16_t flags, const uint8_t* data, size_t size,
                                uint64_t unpackedSize, std::vector<uint8_t>& output);
