#include "platform/oem_text.h"

#include "platform/ascii.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// QUENDAL_OEM_CODEPAGE names the code page as "CP949" and the like.
UINT OemCodePage() {
    const char* name = QUENDAL_OEM_CODEPAGE;
    while (*name && (*name < '0' || *name > '9')) ++name;
    const unsigned long number = std::strtoul(name, nullptr, 10);
    return number ? static_cast<UINT>(number) : CP_OEMCP;
}

// Appends the characters `text` holds in `codePage`; false when it is not valid there.
bool AppendStrict(UINT codePage, std::string_view text, std::wstring& out) {
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return false;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(length));
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, out.data() + at, length);
    return true;
}

}  // namespace

std::string OemToUtf8(std::string_view oemText) {
    if (IsAscii(oemText)) return std::string(oemText);
    static const UINT codePage = OemCodePage();
    std::wstring wide;
    if (AppendStrict(codePage, oemText, wide)) return Narrow(wide);
    // Character by character: a byte that starts no valid character becomes
    // the replacement character and its value in hex, so that names differing
    // only there stay apart; the rest still converts.
    wide.clear();
    for (size_t i = 0; i < oemText.size();) {
        const size_t width = ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(oemText[i])) ? 2 : 1;
        if (i + width <= oemText.size() && AppendStrict(codePage, oemText.substr(i, width), wide)) {
            i += width;
        } else {
            static const wchar_t kHex[] = L"0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(oemText[i]);
            wide += L'\uFFFD';
            wide += kHex[byte >> 4];
            wide += kHex[byte & 15];
            ++i;
        }
    }
    return Narrow(wide);
}

}  // namespace platform
