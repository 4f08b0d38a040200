#include "platform/file_attributes.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

// The system headers map these names to their wide variants; ours are the portable functions.
#undef GetFileAttributes
#undef SetFileAttributes

namespace platform {

int64_t GetFileAttributes(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? -1 : static_cast<int64_t>(attributes);
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
    // Only the DOS bits a file can carry; the Unix mode in the high half and
    // the directory bit are not attributes that can be set here.
    DWORD settable = attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
    if (settable == 0) settable = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesW(Widen(path).c_str(), settable) != 0;
}

}  // namespace platform
