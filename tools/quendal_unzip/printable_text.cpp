#include "printable_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 when there is none.
size_t Utf8Length(std::string_view text, size_t at) {
    const auto lead = static_cast<uint8_t>(text[at]);
    const size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<uint8_t>(text[at + i]) & 0xC0) != 0x80) return 0;
    return length;
}

void AppendHex(std::string& out, uint8_t value) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", value);
    out += hex;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const auto byte = static_cast<uint8_t>(text[at]);
        if (byte < 0x20 || byte == 0x7F) {
            out += '^';
            out += static_cast<char>(byte ^ 0x40);
            ++at;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++at;
        } else if (const size_t length = Utf8Length(text, at); length == 0) {
            AppendHex(out, byte);
            ++at;
        } else if (byte == 0xC2 && static_cast<uint8_t>(text[at + 1]) < 0xA0) {
            AppendHex(out, static_cast<uint8_t>(text[at + 1]));  // U+0080..U+009F, the C1 controls
            at += 2;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}
