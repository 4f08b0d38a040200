#pragma once

class LegacyBitReader;
class LegacyOutput;

// Method 1: LZW with codes of 9 to 13 bits, code 256 followed by 1 widening
// the codes and by 2 freeing every string no other string extends. Throws
// LegacyDataError (raised BadBlock for a bad code, StackOverflow when a string is too
// deep, after handing on the output decoded so far).
void Unshrink(LegacyBitReader& in, LegacyOutput& out);
