#pragma once

#include <string>
#include <string_view>

namespace platform {

// Converts text in the OEM code page (the one ZIP tools of this product's
// market write entry names in, QUENDAL_OEM_CODEPAGE) to UTF-8. Bytes that do
// not form a character of that code page become "?", so every name converts.
std::string OemToUtf8(std::string_view oemText);

}  // namespace platform
