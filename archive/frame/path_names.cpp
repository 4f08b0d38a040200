#include "archive/frame/path_names.h"

#include "platform/file_system.h"

#include <string_view>

namespace {
size_t LastDelimiter(const std::string& path) {
    return path.find_last_of(std::string(platform::kPathSeparators) + ':');
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
