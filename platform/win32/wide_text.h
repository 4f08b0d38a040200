#pragma once

#include <string>
#include <string_view>

namespace platform {

// The code speaks UTF-8; Win32 speaks UTF-16. These convert at that boundary.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace platform
