#pragma once

#include <string>
#include <string_view>

namespace platform {

// Converts text in the OEM code page (the one ZIP tools of this product's
// market write entry names in, QUENDAL_OEM_CODEPAGE) to UTF-8. A byte that
// does not form a character of that code page becomes U+FFFD followed by its
// value in two hex digits, so every name converts and distinct names stay
// distinct.
std::string OemToUtf8(std::string_view oemText);

}  // namespace platform
