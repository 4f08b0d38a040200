#pragma once

class LegacyBitReader;
class LegacyOutput;

// Methods 2 to 5 (factor 1 to 4): each byte coded through the follower set
// of the byte before it, then runs expanded from the DLE byte 144 over a
// 4 KiB window. Decodes until the declared size is put or the data ends.
// Throws LegacyDataError (raised BadBlock) for a follower set longer than 32
// bytes or an index outside its set.
void Unreduce(LegacyBitReader& in, LegacyOutput& out, int factor);
