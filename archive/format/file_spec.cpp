#include "archive/format/file_spec.h"

#include "archive/format/path_names.h"

namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameTextAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

}  // namespace

TInternalMask::TInternalMask(const std::string& mask) {
    bool pending = false;
    for (char c : mask) {
        if (c == '*') {
            pending = true;
        } else if (c == '?') {
            if (!pending) states_.push_back({false, kAnyChar, '\0'});
        } else {
            states_.push_back({pending, kLiteral, UpperAscii(c)});
            pending = false;
        }
    }
    states_.push_back({pending, kLiteral, '\0'});
    trailingDot_ = !mask.empty() && mask.back() == '.';
}

bool TInternalMask::MatchesMask(const std::string& name) const {
    if (trailingDot_ && name.find('.') == std::string::npos) return Matches(name + '.');
    return Matches(name);
}

// Greedy matching that, on a mismatch, lets the last skip-to state start one
// character later. Every state is a single character optionally preceded by
// a "*", for which retrying only the latest "*" finds a match whenever one
// exists, in at most name length x state count steps.
bool TInternalMask::Matches(const std::string& name) const {
    const size_t items = states_.size() - 1;  // the final state stands for the end
    const bool anyTail = states_.back().skipTo;
    constexpr size_t kNone = static_cast<size_t>(-1);
    size_t p = 0, s = 0;
    size_t starState = kNone, starPos = 0;
    for (;;) {
        if (s == items) {
            if (anyTail || p == name.size()) return true;
        } else {
            const TMaskState& state = states_[s];
            if (state.skipTo && starState != s) {
                starState = s;
                starPos = p;
            }
            if (state.skipTo) {
                // Skip to the next occurrence of the literal.
                while (p < name.size() && UpperAscii(name[p]) != state.literal) ++p;
                starPos = p;
            }
            const bool hit = p < name.size() &&
                             (state.kind == kAnyChar || UpperAscii(name[p]) == state.literal);
            if (hit) {
                ++p;
                ++s;
                continue;
            }
        }
        if (starState == kNone || starPos >= name.size()) return false;
        p = starPos + 1;
        s = starState;
    }
}

std::string DirPart(const std::string& path) {
    if (path.size() == 3 && path.find(':') != std::string::npos) return path;
    const size_t at = path.find_last_of("\\/:");
    if (at == std::string::npos) return {};
    if (path[at] == ':') return path.substr(0, at + 1);
    if (at == 2 && path[1] == ':') return path.substr(0, 3);
    return path.substr(0, at);
}

bool SelectEntry(const std::string& name, TStringList& fileSpec, bool recurseDirs) {
    if (name.empty()) return false;
    const std::string nameDir = IncludeTrailingSeparator(DirPart(name));
    for (std::string& line : fileSpec) {
        if (line.empty()) continue;
        if (SameTextAscii(line, name)) return true;
        const std::string lineDir = IncludeTrailingSeparator(DirPart(line));
        std::string candidate = name;
        if (recurseDirs && lineDir.empty()) {
            candidate = ExtractFileName(name);
        } else if (!recurseDirs && !SameTextAscii(nameDir, lineDir)) {
            continue;
        }
        if (TInternalMask(line).MatchesMask(candidate)) return true;
        if (candidate.find('.') == std::string::npos) candidate += '.';
        if (line.find('.') == std::string::npos) line += '.';
        if (TInternalMask(line).MatchesMask(candidate)) return true;
    }
    return false;
}
