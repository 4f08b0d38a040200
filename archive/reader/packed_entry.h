#pragma once

#include "archive/reader/unbase_header_obj.h"

#include <cstdint>
#include <vector>

// An entry of the list as a short run of bytes. Numbers are written in
// 7-bit groups (most are small), names as their bytes, the raw name only
// where it differs from the translated one, and the central header copy as
// the few fields that the entry's own facts do not already give; a header
// that disagrees with those facts is kept whole. Decoding gives back exactly
// the entry that was encoded.
void AppendPackedEntry(const TUnBaseHeader& entry, std::vector<uint8_t>& out);

// Decodes the entry starting at `at` into `entry`, reusing its strings'
// storage; returns where the next entry begins. Reads only what
// AppendPackedEntry wrote.
const uint8_t* ReadPackedEntry(const uint8_t* at, TUnBaseHeader& entry);
