#include "platform/guarded_folder.h"

#include "platform/file_system.h"

namespace platform {

bool IsSinglePart(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of(kPathSeparators) == std::string::npos;
}

}  // namespace platform
