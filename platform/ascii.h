#pragma once

#include <string>
#include <string_view>

namespace platform {

// Upper-cases the ASCII letters a to z only; every other byte is left as is,
// so multi-byte text is never altered.
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The text with a to z upper-cased: a key under which names that Windows
// takes for one file (equal but for their ASCII letter case) meet.
inline std::string AsciiUpperCase(std::string text) {
    for (char& c : text) c = AsciiUpper(c);
    return text;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

// True when every byte is below 0x80: such text reads the same in every
// code page this product meets, so it needs no conversion.
constexpr bool IsAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace platform
