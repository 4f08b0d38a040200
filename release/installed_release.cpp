#include "release/installed_release.h"

namespace release {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::optional<ReleaseVersion> Higher(const std::optional<ReleaseVersion>& a, const std::optional<ReleaseVersion>& b) {
    if (!a) return b;
    if (!b) return a;
    return *a < *b ? b : a;
}

}  // namespace

InstalledRelease InstalledRelease::Parse(std::string_view text) {
    InstalledRelease record;
    if (text.size() > kMaxBytes) return record;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = Trimmed(line.substr(0, equals));
        const std::optional<ReleaseVersion> value = ReleaseVersion::Parse(Trimmed(line.substr(equals + 1)));
        if (key == "Version") record.version = value;
        else if (key == "HighestVersion") record.highest = value;
    }
    record.highest = Higher(record.highest, record.version);
    return record;
}

std::string InstalledRelease::Text() const {
    std::string text = "[Release]\n";
    if (version) text += "Version=" + version->Text() + "\n";
    if (highest) text += "HighestVersion=" + highest->Text() + "\n";
    return text;
}

InstalledRelease InstalledRelease::After(const std::optional<ReleaseVersion>& installed) const {
    return {installed, Higher(highest, installed)};
}

}  // namespace release
