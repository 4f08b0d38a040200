#include "release/entry_name.h"

#include <cstdio>

#include "platform/ascii.h"

namespace release {

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool IsPlainSegment(std::string_view segment) {
    if (segment.empty() || segment == "." || segment == "..") return false;
    for (const char c : segment)
        if (IsControl(c) || c == '\\' || c == ':') return false;
    return true;
}

}  // namespace

bool IsPlainEntryName(std::string_view name) {
    if (name.ends_with('/')) name.remove_suffix(1);
    bool first = true;
    for (;;) {
        const size_t slash = name.find('/');
        const std::string_view segment = name.substr(0, slash);
        if (!IsPlainSegment(segment)) return false;
        if (first && platform::EqualsIgnoringAsciiCase(segment, kUpdateFolderName)) return false;
        if (slash == std::string_view::npos) return true;
        name.remove_prefix(slash + 1);
        first = false;
    }
}

std::string QuotedEntryName(std::string_view name) {
    std::string text = "\"";
    for (const char c : name) {
        if (IsControl(c) || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            text += escaped;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

}  // namespace release
