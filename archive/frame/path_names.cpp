#include "archive/frame/path_names.h"

#include "platform/file_system.h"

namespace {
size_t LastDelimiter(const std::string& path) {
    const char delimiters[] = {platform::kPathSeparator, ':', '\0'};
    return path.find_last_of(delimiters);
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
    if (path.empty() || path.back() == platform::kPathSeparator) return path;
    return path + platform::kPathSeparator;
}
