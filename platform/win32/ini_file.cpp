#include "platform/ini_file.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

// The system headers map this name to the wide variant of their own function.
#undef WriteProfileString

namespace platform {

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    return ::WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(value).c_str(),
                                        Widen(path).c_str()) != 0;
}

}  // namespace platform
