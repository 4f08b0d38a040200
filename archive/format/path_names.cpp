#include "archive/format/path_names.h"

#include "platform/ascii.h"
#include "platform/file_system.h"

#include <string_view>

namespace {

bool HasDrivePrefix(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' && platform::AsciiUpper(path[0]) >= 'A' && platform::AsciiUpper(path[0]) <= 'Z';
}

size_t LastDelimiter(const std::string& path) {
    const size_t separator = path.find_last_of(platform::kPathSeparators);
    if (separator != std::string::npos) return separator;
    return HasDrivePrefix(path) ? 1 : std::string::npos;
}

}  // namespace

std::string ExtractFilePath(const std::string& path) {
    const size_t at = LastDelimiter(path);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string ExtractFileName(const std::string& path) {
    const size_t at = LastDelimiter(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string IncludeTrailingSeparator(const std::string& path) {
    if (path.empty() || std::string_view(platform::kPathSeparators).find(path.back()) != std::string_view::npos)
        return path;
    return path + platform::kPathSeparator;
}

size_t RootPrefixLength(const std::string& name) {
    size_t length = HasDrivePrefix(name) ? 2 : 0;
    while (length < name.size() && std::string_view(platform::kPathSeparators).find(name[length]) != std::string_view::npos)
        ++length;
    return length;
}
