#pragma once

class LegacyBitReader;
class LegacyOutput;

// Method 1: LZW with codes of 9 to 13 bits, code 256 followed by 1 widening
// the codes and by 2 freeing every string no other string extends. Throws
// LegacyDataError (raised 25116 for a bad code, 25299 when a string is too
// deep, after handing on the output decoded so far).
void Unshrink(LegacyBitReader& in, LegacyOutput& out);
