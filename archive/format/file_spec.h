#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/format/archive_types.h"

// A compiled wildcard mask: "*" runs over any characters (path separators
// and dots too), "?" stands for one character, and everything else is a
// literal compared without case for the ASCII letters only. A "?" right
// after a "*" is dropped, so "*?" acts as "*".
class TInternalMask {
public:
    explicit TInternalMask(const std::string& mask);

    // A mask ending in "." also matches a name without any "." as if the
    // name ended in one. Time is bounded by name length x mask length.
    bool MatchesMask(const std::string& name) const;

    struct TMaskState {
        bool skipTo = false;   // a "*" stood before this state
        uint8_t kind = 0;      // kLiteral or kAnyChar
        char literal = '\0';   // upper-cased ASCII letter or the byte itself
    };
    static constexpr uint8_t kLiteral = 0;
    static constexpr uint8_t kAnyChar = 1;

    // One state per literal or "?", then the final state (literal 0).
    const std::vector<TMaskState>& States() const { return states_; }
    bool TrailingDot() const { return trailingDot_; }

private:
    bool Matches(const std::string& name) const;

    std::vector<TMaskState> states_;
    bool trailingDot_ = false;
};

// The folder part of a path: "C:\x" gives "C:\", "sub\a.txt" gives "sub",
// a three-character path with ":" is returned whole, and a name without
// separator or ":" gives "". Both "\" and "/" count as separators.
std::string DirPart(const std::string& path);

// The FileSpec test of an entry name. A line equal to the name (without
// ASCII case) selects it at once; otherwise each non-empty line is a mask,
// matched against the file-name part (RecurseDirs and a line without folder)
// or the whole name, and retried with "." appended to a name without one.
// A line without "." that fails once is changed to end in "." for good.
bool SelectEntry(const std::string& name, TStringList& fileSpec, bool recurseDirs);
