#include "platform/ini_file.h"

#include <windows.h>

#include "platform/win32/read_only_file.h"
#include "platform/win32/wide_text.h"

// The system headers map this name to the wide variant of their own function.
#undef WriteProfileString

namespace platform {

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    const std::wstring file = Widen(path);
    if (RefuseReadOnlyFile(::GetFileAttributesW(file.c_str()))) return false;
    return ::WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), Widen(value).c_str(),
                                        file.c_str()) != 0;
}

}  // namespace platform
