// The file-spec matcher against a plain dynamic-programming wildcard match,
// and SelectEntry on any name and list of lines.
//
// Input: the first byte's low bit is RecurseDirs; the rest is cut at "\n":
// the entry name, then the file-spec lines.

#include "archive/format/file_spec.h"
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// "*" runs over anything, "?" is one character, and a "?" after a "*" (with
// nothing but "?" between) is dropped.
bool Wildcard(const std::string& rawMask, const std::string& name) {
    std::string mask;
    bool afterStar = false;
    for (char c : rawMask) {
        if (c == '?' && afterStar) continue;
        afterStar = c == '*' || (afterStar && c == '?');
        mask += c;
    }
    // matches[j]: mask[0, i) matches name[0, j).
    std::vector<bool> matches(name.size() + 1, false);
    matches[0] = true;
    for (char m : mask) {
        std::vector<bool> next(name.size() + 1, false);
        if (m == '*') {
            next[0] = matches[0];
            for (size_t j = 1; j <= name.size(); ++j) next[j] = matches[j] || next[j - 1];
        } else {
            for (size_t j = 1; j <= name.size(); ++j)
                next[j] = matches[j - 1] && (m == '?' || Upper(m) == Upper(name[j - 1]));
        }
        matches.swap(next);
    }
    return matches[name.size()];
}

bool Reference(const std::string& mask, const std::string& name) {
    if (!mask.empty() && mask.back() == '.' && name.find('.') == std::string::npos) return Wildcard(mask, name + '.');
    return Wildcard(mask, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool recurseDirs = data[0] & 1;
    std::vector<std::string> fields = fuzz_support::Fields(data + 1, size - 1, '\n');
    const std::string name = fields.front();
    TStringList lines(fields.begin() + 1, fields.end());

    for (const std::string& line : lines) {
        if (TInternalMask(line).MatchesMask(name) != Reference(line, name)) {
            std::fprintf(stderr, "mask \"%s\" on \"%s\": the matcher and the reference differ\n", line.c_str(),
                         name.c_str());
            std::abort();
        }
    }
    TStringList itself{name};
    if (!name.empty() && !SelectEntry(name, itself, recurseDirs)) {
        std::fprintf(stderr, "\"%s\" does not select itself\n", name.c_str());
        std::abort();
    }
    SelectEntry(name, lines, recurseDirs);
    return 0;
}
