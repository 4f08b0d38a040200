#pragma once

#include <cstdint>

class LegacyBitReader;
class LegacyOutput;

// Method 6: literals and matches coded with Shannon-Fano trees. Flag bit 1
// selects the 8 KiB window (7 low distance bits, else 4 KiB and 6), bit 2 a
// literal tree and matches of 3 or more (else plain literal bytes and
// matches of 2 or more). Decodes until the declared size is put or the data
// ends. Throws LegacyDataError for a bad tree (see ShannonFanoTree).
void Explode(LegacyBitReader& in, LegacyOutput& out, uint16_t flags);
