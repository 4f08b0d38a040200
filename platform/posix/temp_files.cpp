#include "platform/temp_files.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/file_system.h"

namespace platform {
namespace {
std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != kPathSeparator) folder += kPathSeparator;
    return folder;
}
}  // namespace

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return WithSeparator(tmp && *tmp ? tmp : "/tmp");
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
    std::string pattern = WithSeparator(folder) + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int handle = ::mkstemp(name.data());
    if (handle < 0) return {};
    ::close(handle);
    return name.data();
}

}  // namespace platform
